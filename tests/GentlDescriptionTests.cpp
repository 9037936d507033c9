// A GenTL device's GenICam description fetched from where its port's URL says: the port's registers or a file,
// as the document or zipped; archives that are damaged or hold no description refused with the reason, never
// unpacked past their end; web addresses refused offline. End to end through vxcam-sim.cti in each form.
#include "sdk/Device.h"
#include "sdk/Interface.h"
#include "sdk/Node.h"
#include "sdk/SdkExceptions.h"
#include "sdk/System.h"
#include "sdk/SystemList.h"
#include "sdk/gentl/GentlDescription.h"
#include "sdk/gentl/GentlFunctions.h"
#include "sdk/gentl/sim-cti/SimCtiZip.h"
#include "tests/support/SimEnvironment.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ostream>
#include <string>

namespace {

using sdk::gentl::fetchDescription;
using sdk::gentl::PortRead;
using sdk::gentl::unzipDescription;
using sdk::simcti::zipOneFile;
using vxcam::test::simConfig;
using vxcam::test::simDevice;
using vxcam::test::SimEnvironment;

// A description of the tests' own, long enough that its archive is deflated.
const std::string& document() {
    static const std::string text = R"(<?xml version="1.0"?><RegisterDescription ModelName="X">)" +
                                    std::string(2000, ' ') + "<Port Name=\"Device\"/></RegisterDescription>\n";
    return text;
}

// ---- archives ------------------------------------------------------------------------------------------------

TEST(GentlDescriptionArchive, AnArchivesDescriptionComesOutWhole) {
    std::string error;
    EXPECT_EQ(unzipDescription(zipOneFile("camera.xml", document()), error), document()) << error;
    EXPECT_EQ(unzipDescription(zipOneFile("CAMERA.XML", ""), error), std::string()) << error;
}

TEST(GentlDescriptionArchive, WhatIsNoArchiveOrHoldsNoDescriptionIsRefusedWithTheReason) {
    const struct {
        const char* name;
        std::string bytes;
        const char* says;
    } cases[] = {
        {"empty", "", "is no zip archive"},
        {"text", document(), "no end record"},
        {"no description", zipOneFile("readme.txt", "hello"), "without an .xml file (it holds: readme.txt)"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(unzipDescription(c.bytes, error).has_value()) << c.name;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.name << ": " << error;
    }
}

// Every cut and every damaged byte of an archive: the document whole, or a refusal with a reason, never anything
// read past the archive's end (the sanitizer builds see to that).
TEST(GentlDescriptionArchive, ACutOrDamagedArchiveGivesTheDocumentOrARefusalNeverGarbage) {
    const std::string archive = zipOneFile("camera.xml", document());
    for (size_t length = 0; length < archive.size(); ++length) {
        std::string error;
        EXPECT_FALSE(unzipDescription(archive.substr(0, length), error).has_value()) << "cut at " << length;
        EXPECT_FALSE(error.empty());
    }
    for (size_t at = 0; at < archive.size(); ++at) {
        for (const unsigned char flip : {0x01, 0x80, 0xFF}) {
            std::string damaged = archive;
            damaged[at] = static_cast<char>(static_cast<unsigned char>(damaged[at]) ^ flip);
            std::string error;
            const auto result = unzipDescription(damaged, error);
            if (result.has_value()) {
                EXPECT_EQ(*result, document()) << "byte " << at << " flipped by " << int{flip};
            } else {
                EXPECT_FALSE(error.empty());
            }
        }
    }
}

// ---- where the URL points ------------------------------------------------------------------------------------

// A port whose registers hold `bytes` at 0x1000.
PortRead portHolding(const std::string& bytes) {
    return [bytes](uint64_t address, uint64_t length, std::string& out, std::string& error) {
        if (address != 0x1000 || length > bytes.size()) {
            error = "no such register";
            return false;
        }
        out = bytes.substr(0, length);
        return true;
    };
}

std::string hexSize(size_t size) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%zx", size);
    return text.data();
}

TEST(GentlDescriptionUrl, LocalAndFileUrlsAsTheDocumentOrZippedAreServed) {
    const std::string zipped = zipOneFile("camera.xml", document());
    const std::string padded = document() + std::string(64, '\0');
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const auto writeFile = [&](const QString& name, const std::string& bytes) {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return "File:///" + folder.filePath(name).mid(1).toUtf8().toPercentEncoding("/").toStdString();
    };
    const struct {
        const char* name;
        std::string url;
        std::string port;
    } cases[] = {
        {"local", "Local:camera.xml;1000;" + hexSize(padded.size()), padded},
        {"local with schema", "local:///camera.xml;1000;" + hexSize(document().size()) + "?SchemaVersion=1.1.0",
         document()},
        {"local zipped", "Local:camera.zip;1000;" + hexSize(zipped.size()), zipped},
        {"file", writeFile(QStringLiteral("camera.xml"), document()), ""},
        {"file zipped", writeFile(QStringLiteral("a camera.zip"), zipped), ""},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(fetchDescription(c.url, portHolding(c.port), error), document()) << c.name << ": " << error;
    }
}

TEST(GentlDescriptionUrl, WhatCannotBeHadOfflineOrIsDamagedIsRefusedWithTheReason) {
    std::string zipped = zipOneFile("camera.xml", document());
    zipped[zipped.size() / 2] ^= 0x55; // in the deflated data
    const struct {
        const char* name;
        std::string url;
        std::string port;
        const char* says;
    } cases[] = {
        {"web", "http://www.example.com/camera.xml", "", "web address"},
        {"secure web", "https://www.example.com/camera.zip", "", "web address"},
        {"unknown scheme", "ftp://camera.xml", "", "neither in the port"},
        {"no length", "Local:camera.xml;1000", "", "no valid local address"},
        {"length not a number", "Local:camera.xml;1000;zz", "", "no valid local address"},
        {"too long", "Local:camera.xml;1000;7fffffff", "", "no valid local address"},
        {"port refuses", "Local:camera.xml;2000;10", "", "no such register"},
        {"damaged archive", "Local:camera.zip;1000;" + hexSize(zipped.size()), zipped, "damaged"},
        {"not an archive", "Local:camera.zip;1000;" + hexSize(document().size()), document(), "is no zip archive"},
        {"missing file", "File:///nonexistent/camera.xml", "", "cannot be read"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(fetchDescription(c.url, portHolding(c.port), error).has_value()) << c.name;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.name << ": " << error;
    }
}

// ---- end to end through vxcam-sim.cti ------------------------------------------------------------------------

struct FormCase {
    const char* form; // VXCAM_SIM_CTI_DESCRIPTION
    const char* urlStarts;
    const char* fileName;
    int32_t scheme;
    friend std::ostream& operator<<(std::ostream& out, const FormCase& c) { return out << c.form; }
};

class GentlDescriptionForms : public ::testing::TestWithParam<FormCase> {
protected:
    void SetUp() override { qputenv("VXCAM_SIM_CTI_DESCRIPTION", GetParam().form); }
    void TearDown() override { qunsetenv("VXCAM_SIM_CTI_DESCRIPTION"); }
};

// What the producer's port says of its URL, as any GenTL consumer reads it.
TEST_P(GentlDescriptionForms, ThePortsUrlSaysWhereAndWhatTheDescriptionIs) {
    const SimEnvironment sim(simConfig({simDevice(QStringLiteral("SN5"))}));
    std::string error;
    const auto lib = sdk::gentl::GentlLibrary::load(QStringLiteral(VXCAM_SIM_CTI), error);
    ASSERT_NE(lib, nullptr) << error;
    const sdk::gentl::GentlFunctions& f = lib->fn();
    TL_HANDLE system = nullptr;
    IF_HANDLE iface = nullptr;
    DEV_HANDLE device = nullptr;
    PORT_HANDLE port = nullptr;
    ASSERT_EQ(f.TLOpen(&system), GC_ERR_SUCCESS) << lib->lastError(0);
    ASSERT_EQ(f.TLOpenInterface(system, "if0", &iface), GC_ERR_SUCCESS);
    ASSERT_EQ(f.IFOpenDevice(iface, "SN5", DEVICE_ACCESS_EXCLUSIVE, &device), GC_ERR_SUCCESS);
    ASSERT_EQ(f.DevGetPort(device, &port), GC_ERR_SUCCESS);
    std::array<char, 512> text{};
    size_t size = text.size();
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    ASSERT_EQ(f.GCGetPortURLInfo(port, 0, URL_INFO_URL, &type, text.data(), &size), GC_ERR_SUCCESS);
    const std::string url = text.data();
    EXPECT_EQ(url.rfind(GetParam().urlStarts, 0), 0U) << url;
    size = text.size();
    ASSERT_EQ(f.GCGetPortURLInfo(port, 0, URL_INFO_FILENAME, &type, text.data(), &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(text.data(), GetParam().fileName);
    int32_t scheme = -1;
    size = sizeof scheme;
    ASSERT_EQ(f.GCGetPortURLInfo(port, 0, URL_INFO_SCHEME, &type, &scheme, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(scheme, GetParam().scheme);

    // The description the URL names is the camera's, whatever its form.
    const PortRead read = [&](uint64_t address, uint64_t length, std::string& bytes, std::string& why) {
        bytes.assign(length, '\0');
        size_t got = length;
        if (f.GCReadPort(port, address, bytes.data(), &got) != GC_ERR_SUCCESS) {
            why = lib->lastError(0);
            return false;
        }
        return true;
    };
    const auto description = fetchDescription(url, read, error);
    ASSERT_TRUE(description.has_value()) << error;
    EXPECT_NE(description->find("<RegisterDescription"), std::string::npos);
    EXPECT_NE(description->find("DeviceSerialNumber"), std::string::npos);
    EXPECT_EQ(f.TLClose(system), GC_ERR_SUCCESS);
}

// The SDK's gentl transport opens the camera and evaluates its features in every form.
TEST_P(GentlDescriptionForms, TheGentlTransportOpensTheCameraAndReadsItsFeatures) {
    const SimEnvironment sim(simConfig({simDevice(QStringLiteral("SN6"), QStringLiteral(R"("width": 96)"))}));
    qputenv("VXCAM_TRANSPORTS", "gentl");
    sdk::SystemList* systems = sdk::SystemList::GetInstance();
    ASSERT_NE(systems, nullptr);
    sdk::System* system = systems->begin()->second;
    system->Open();
    system->GetInterfaces()->Refresh(100);
    sdk::Interface* iface = system->GetInterfaces()->begin()->second;
    iface->Open();
    iface->GetDevices()->Refresh(100);
    sdk::Device* device = iface->GetDevices()->begin()->second;
    device->Open();
    EXPECT_EQ(device->GetRemoteNode("Width")->GetInt(), 96);
    EXPECT_EQ(device->GetRemoteNode("PixelFormat")->GetString().str(), "Mono8");
    EXPECT_EQ(device->GetRemoteNode("DeviceSerialNumber")->GetString().str(), "SN6");
    device->Close();
    qunsetenv("VXCAM_TRANSPORTS");
}

INSTANTIATE_TEST_SUITE_P(Forms, GentlDescriptionForms,
                         ::testing::Values(FormCase{"local", "Local:vxcam-sim.xml;", "vxcam-sim.xml", URL_SCHEME_LOCAL},
                                           FormCase{"local-zip", "Local:vxcam-sim.zip;", "vxcam-sim.zip",
                                                    URL_SCHEME_LOCAL},
                                           FormCase{"file", "File:///", "vxcam-sim.xml", URL_SCHEME_FILE},
                                           FormCase{"file-zip", "File:///", "vxcam-sim.zip", URL_SCHEME_FILE}),
                         [](const auto& param) {
                             std::string name = param.param.form;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

} // namespace
