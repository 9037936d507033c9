// Each frame of the gentl transport goes by the pixel format its own buffer reports (its PFNC code and the
// code's namespace), not by what the camera's "PixelFormat" said at the start: vxcam-sim.cti makes every second
// frame report another format (VXCAM_SIM_CTI_ALTERNATE_PIXELFORMAT). A code the SDK cannot read never passes
// for another format: the frame is dropped, counted and warned about once; a buffer that reports no code
// leaves the camera's "PixelFormat" in charge.
#include "tests/support/GrabbingStream.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimEnvironment.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace vxcam::test {
namespace {

constexpr uint64_t kFirstId = 10;

struct FormatCase {
    const char* name;
    const char* alternate;  // VXCAM_SIM_CTI_ALTERNATE_PIXELFORMAT
    const char* oddFormat;  // what the frames of odd offset are delivered as; null: they are dropped
    const char* warningHas; // a warning of the transport holds this; "" for none
    friend std::ostream& operator<<(std::ostream& out, const FormatCase& c) { return out << c.name; }
};

class GentlFrameFormat : public ::testing::TestWithParam<FormatCase> {
protected:
    void SetUp() override { qputenv("VXCAM_SIM_CTI_ALTERNATE_PIXELFORMAT", GetParam().alternate); }
    void TearDown() override { qunsetenv("VXCAM_SIM_CTI_ALTERNATE_PIXELFORMAT"); }
};

TEST_P(GentlFrameFormat, EachFrameGoesByItsBuffersFormatAndAnUnreadableOneIsDropped) {
    const FormatCase& c = GetParam();
    const LogCapture log;
    SimEnvironment sim(simConfig({simDevice(
        QStringLiteral("SN1"),
        QStringLiteral(
            R"("pixelFormat": "BayerRG8", "width": 16, "height": 4, "frameRate": 400, "firstFrameId": 10)"))}));
    qputenv("VXCAM_TRANSPORTS", "gentl");
    GrabbingStream grab(firstDevice());
    ASSERT_TRUE(grab.waitForFrames(8));
    grab.stop();
    const std::vector<uint64_t> ids = grab.frameIds();
    const std::vector<std::string> formats = grab.pixelFormats();
    ASSERT_EQ(ids.size(), formats.size());
    uint64_t odd = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        const bool isOdd = (ids[i] - kFirstId) % 2 == 1;
        odd += isOdd ? 1 : 0;
        if (!isOdd) {
            EXPECT_EQ(formats[i], "BayerRG8") << "frame " << ids[i];
        } else if (c.oddFormat != nullptr) {
            EXPECT_EQ(formats[i], c.oddFormat) << "frame " << ids[i];
        } else {
            ADD_FAILURE() << "frame " << ids[i] << " of an unreadable format was delivered as " << formats[i];
        }
    }
    if (c.oddFormat != nullptr) {
        EXPECT_GT(odd, 0U) << "no frame of the alternate format came";
    } else {
        // Every frame between the first and the last delivered one is accounted for.
        const uint64_t missing = ids.back() - ids.front() + 1 - ids.size();
        EXPECT_GE(missing, ids.size() - 1);
        EXPECT_GE(grab.stream().GetIncompleteFrameCount() + grab.stream().GetLostFrameCount(), missing);
    }
    QStringList warnings;
    for (const LogLine& line : log.lines()) {
        if (line.type == QtWarningMsg && line.category == QLatin1String("vxcam.gentl")) {
            warnings << line.text;
        }
    }
    if (*c.warningHas == '\0') {
        EXPECT_TRUE(warnings.isEmpty()) << warnings.join(QLatin1Char('\n')).toStdString();
    } else {
        ASSERT_EQ(warnings.size(), 1) << "once per stream: " << warnings.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(warnings.front().contains(QLatin1String(c.warningHas))) << warnings.front().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Buffers, GentlFrameFormat,
                         ::testing::Values(FormatCase{"SameAsTheCamera", "BayerRG8", "BayerRG8", ""},
                                           FormatCase{"AnotherFormat", "Mono8", "Mono8", ""},
                                           FormatCase{"GigEVisionNamespace", "0x01080001/1", "Mono8", ""},
                                           FormatCase{"NoCodeKeepsTheCamerasFormat", "none", "BayerRG8", ""},
                                           FormatCase{"UnknownCode", "0x01080999", nullptr,
                                                      "drops frames of pixel format code 0x01080999"},
                                           FormatCase{"OtherNamespace", "0x01080001/2", nullptr, "in namespace 2"},
                                           FormatCase{"CodeBeyond32Bits", "0x101080001", nullptr, "code 0x101080001"}),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace vxcam::test
