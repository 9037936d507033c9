// What the GigE Vision tests share: the fixture that opens fake cameras inside run-in-netns.sh's test network,
// and the script's controls over cameras and links.
#pragma once

#include "contract/IVeyraCameraObject.h"
#include "tests/support/FrameRecorder.h"
#include "tests/support/ModuleLoader.h"
#include "tests/support/SdkInspection.h"

#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vxcam::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline constexpr int32_t kExposureProperty = 1; // the property record's identifier for the exposure time

// Waits for a log line that contains a text: the producer's warnings that a camera stopped answering, its notes
// that it answers again. Watches may live and end on any thread while others log: the handler, installed once and
// never removed, reaches only watches that are registered.
class LogLineWatch {
public:
    explicit LogLineWatch(QString text) : m_text(std::move(text)) {
        const std::lock_guard lock(registryMutex());
        if (!s_bInstalled) {
            s_previous = qInstallMessageHandler(&LogLineWatch::handler);
            s_bInstalled = true;
        }
        watches().push_back(this);
    }
    ~LogLineWatch() {
        const std::lock_guard lock(registryMutex());
        auto& all = watches();
        all.erase(std::remove(all.begin(), all.end(), this), all.end());
    }
    LogLineWatch(const LogLineWatch&) = delete;
    LogLineWatch& operator=(const LogLineWatch&) = delete;

    // True once a line with the text was logged since the watch was made (or since forget()).
    [[nodiscard]] bool wait(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_seen.wait_for(lock, timeout, [this] { return m_bSeen; });
    }
    void forget() {
        const std::lock_guard lock(m_mutex);
        m_bSeen = false;
    }

private:
    // Called on any thread that logs; Aravis's heartbeat thread reports a loss.
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        QtMessageHandler previous = nullptr;
        {
            const std::lock_guard lock(registryMutex());
            for (LogLineWatch* watch : watches()) {
                if (text.contains(watch->m_text)) {
                    const std::lock_guard seen(watch->m_mutex);
                    watch->m_bSeen = true;
                    watch->m_seen.notify_all();
                }
            }
            previous = s_previous;
        }
        if (previous != nullptr) {
            previous(type, context, text);
        }
    }
    // Guards the watches, s_previous and s_bInstalled.
    static std::mutex& registryMutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<LogLineWatch*>& watches() {
        static std::vector<LogLineWatch*> all;
        return all;
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline bool s_bInstalled = false;

    const QString m_text;
    std::mutex m_mutex; // guards m_bSeen
    std::condition_variable m_seen;
    bool m_bSeen = false;
};

// Waits for the producer's warning that a camera stopped answering.
class ControlLostWatch : public LogLineWatch {
public:
    ControlLostWatch() : LogLineWatch(QStringLiteral("control lost")) {}
};

// The fake camera draws a diagonal ramp: every line is the line above moved one pixel to the left. A frame with
// data missing (zeros where packets or IP fragments should have been) breaks that.
struct PixelCheck {
    std::mutex mutex; // guards the counts: written on the delivery thread, read by the test
    int checked = 0;
    int wrong = 0;

    FrameRecorder::Action action() {
        return [this](ICameraObject&, const RecordedFrame& frame) {
            const bool right = isDiagonalRamp(frame);
            const std::lock_guard lock(mutex);
            ++checked;
            wrong += right ? 0 : 1;
        };
    }
    static bool isDiagonalRamp(const RecordedFrame& frame) {
        const int width = frame.width;
        bool varies = false;
        for (int y = 0; y + 1 < frame.height; ++y) {
            const unsigned char* line = frame.data + static_cast<std::ptrdiff_t>(y) * width;
            for (int x = 0; x + 1 < width; ++x) {
                if (line[x + 1] != line[width + x]) {
                    return false;
                }
                varies = varies || line[x] != line[x + 1];
            }
        }
        return varies;
    }
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
        if (qgetenv("VXCAM_GEV_RECEPTION") == "udp") {
            // The run meant to see reception through UDP sockets: this process must not open packet sockets.
            const int probe = socket(AF_PACKET, SOCK_RAW, 0);
            if (probe >= 0) {
                close(probe);
            }
            ASSERT_LT(probe, 0) << "this process may open packet sockets, so Aravis does not read the UDP socket";
        }
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
