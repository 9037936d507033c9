// What the GigE Vision tests share: the fixture that opens fake cameras inside run-in-netns.sh's test network,
// and the script's controls over cameras and links.
#pragma once

#include "contract/IVeyraCameraObject.h"
#include "tests/support/FrameRecorder.h"
#include "tests/support/ModuleLoader.h"
#include "tests/support/SdkInspection.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>

namespace vxcam::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline constexpr int32_t kExposureProperty = 1; // the property record's identifier for the exposure time

// Waits for the producer's warning that a camera stopped answering.
class ControlLostWatch {
public:
    ControlLostWatch() {
        m_previous = qInstallMessageHandler(&ControlLostWatch::handler);
        s_active.store(this);
    }
    ~ControlLostWatch() {
        s_active.store(nullptr);
        qInstallMessageHandler(m_previous);
    }
    ControlLostWatch(const ControlLostWatch&) = delete;
    ControlLostWatch& operator=(const ControlLostWatch&) = delete;

    [[nodiscard]] bool wait(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_seen.wait_for(lock, timeout, [this] { return m_bLost; });
    }

private:
    // Called on any thread that logs; Aravis's heartbeat thread reports the loss.
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        ControlLostWatch* watch = s_active.load();
        if (watch == nullptr) {
            return;
        }
        QtMessageHandler previous = nullptr;
        {
            const std::lock_guard lock(watch->m_mutex);
            if (text.contains(QLatin1String("control lost"))) {
                watch->m_bLost = true;
                watch->m_seen.notify_all();
            }
            previous = watch->m_previous;
        }
        if (previous != nullptr) {
            previous(type, context, text);
        }
    }

    static inline std::atomic<ControlLostWatch*> s_active{nullptr}; // the test's watch while it lives
    QtMessageHandler m_previous = nullptr;                          // set before the watch is published in s_active
    std::mutex m_mutex;                                             // guards m_bLost
    std::condition_variable m_seen;
    bool m_bLost = false;
};

// Runs one of the test network script's controls ("camera-stop 3", "link-loss 5 30", ...); true on success.
inline bool controlNetwork(const std::string& arguments) {
    const QByteArray script = qgetenv("VXCAM_GEV_CTL");
    const std::string command = script.toStdString() + " " + arguments;
    return !script.isEmpty() && std::system(command.c_str()) == 0;
}

// Kills or restarts fake camera `index` through the test network's script.
inline bool controlCamera(const char* action, int index) {
    return controlNetwork(std::string(action) + " " + std::to_string(index));
}

class GevTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qgetenv("VXCAM_TRANSPORTS") != "gev" || qgetenv("VXCAM_GEV_STATE").isEmpty()) {
            GTEST_SKIP() << "runs only inside run-in-netns.sh's test network";
        }
        ASSERT_TRUE(m_module.loaded()) << m_module.errorString().toStdString();
    }
    void TearDown() override {
        m_second.reset();
        m_camera.reset();
        sdk::SystemList::ReleaseInstance();
    }

    // A driver object configured for `serial` and opened.
    ModuleLoader::Camera open(const char* serial, CameraConfig& config, FrameRecorder& frames) {
        config.cameraId = QStringLiteral("veyra ") + QLatin1String(serial);
        ModuleLoader::Camera camera = m_module.makeCamera(&config, &frames);
        EXPECT_EQ(camera->IOpenCamera(), 1) << serial;
        return camera;
    }

    // Sets camera features through the SDK before the driver opens the camera: the fake camera keeps them.
    static void prepare(const char* serial, const char* pixelFormat, int64_t width, int64_t height, double rate) {
        const std::vector<sdk::Device*> found = devicesWithSerial(serial);
        ASSERT_EQ(found.size(), 1U) << serial;
        sdk::Device* device = found.front();
        device->Open();
        device->GetRemoteNode("PixelFormat")->SetString(pixelFormat);
        device->GetRemoteNode("Width")->SetInt(width);
        device->GetRemoteNode("Height")->SetInt(height);
        device->GetRemoteNode("AcquisitionFrameRate")->SetDouble(rate);
        device->Close();
    }

    static sdk::DataStream* streamOf(const char* serial) {
        sdk::DataStreamList* streams = devicesWithSerial(serial).front()->GetDataStreams();
        streams->Refresh();
        return streams->begin()->second;
    }

    ModuleLoader m_module;
    CameraConfig m_config;
    FrameRecorder m_frames;
    ModuleLoader::Camera m_camera{nullptr, {nullptr}};
    CameraConfig m_secondConfig;
    FrameRecorder m_secondFrames;
    ModuleLoader::Camera m_second{nullptr, {nullptr}};
};

} // namespace vxcam::test
