// Runs the built vxcam binary the way a user does, in a temporary folder of its own, with a simulated-camera
// file the test writes there. The transport and display variables of the test's own environment never reach the
// tool.
#pragma once

#include "tests/support/SimConfigText.h"

#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

namespace vxcam::test {

// Exit codes as the tool documents them.
namespace exit_code {
constexpr int kSuccess = 0;
constexpr int kUsage = 2;
constexpr int kModuleUnusable = 3;
constexpr int kCameraUnavailable = 4;
constexpr int kStartFailed = 5;
constexpr int kTooFewFrames = 6;
constexpr int kOutputFailed = 7;
constexpr int kSettingRefused = 8;
constexpr int kSettingsToChange = 9;
constexpr int kInterrupted = 130;
} // namespace exit_code

struct ToolResult {
    bool finished = false; // ended on its own within the wait
    bool crashed = false;  // ended by a signal
    int exitCode = -1;
    QString out; // standard output
    QString err; // standard error
    // Standard output as a JSON object; empty when it is not one.
    [[nodiscard]] QJsonObject json() const;
    // For failure messages.
    [[nodiscard]] QString describe() const;
};

class ToolSandbox {
public:
    ToolSandbox();

    // Writes `json` as the simulated-camera file and points VXCAM_SIM_CONFIG at it.
    void useCameras(const QString& json);
    void setVariable(const QString& name, const QString& value);
    // From now on the tool runs with files limited to `kib` KiB (the shell's ulimit -f), as on a disk that is
    // full past that size: a write beyond it fails with EFBIG instead of ending the process.
    void limitFileSize(int kib) { m_nFileLimitKiB = kib; }
    // The sandbox folder, where the tool runs, and a path inside it.
    [[nodiscard]] QString folder() const { return m_dir.path(); }
    [[nodiscard]] QString path(const QString& name) const;

    // Runs `vxcam arguments...` and waits for it to end (at most `wait`; then it is killed).
    [[nodiscard]] ToolResult run(const QStringList& arguments,
                                 std::chrono::milliseconds wait = std::chrono::seconds(90)) const;

    // Starts `vxcam arguments...` and returns at once; null when it did not start.
    [[nodiscard]] std::unique_ptr<QProcess> start(const QStringList& arguments) const;
    // Waits for a started tool to end (at most `wait`; then it is killed) and collects its output.
    [[nodiscard]] static ToolResult finish(QProcess& process,
                                           std::chrono::milliseconds wait = std::chrono::seconds(90));

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_environment;
    int m_nFileLimitKiB = 0; // 0: no limit
};

} // namespace vxcam::test
