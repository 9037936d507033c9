// The tool's command line: its commands, their options, their help, and the checks on every value.
#pragma once

#include "contract/ICameraObject.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <variant>

namespace vxcam::host {

// Options every command takes.
struct CommonOptions {
    QString moduleDir; // empty: the folder of the tool's own binary
    bool json = false;
    bool verbose = false;
};

struct ListOptions {
    CommonOptions common;
};

struct GrabOptions {
    CommonOptions common;
    QString camera; // as `list` shows it, or the serial number alone
    AcqTriggerMode trigger = FreeRun;
    std::optional<int32_t> exposureUs; // written through ISetProperty when given
    QString pixelFormat;               // empty: the camera's own; else chosen through the SDK layer before the open
    std::optional<int64_t> packetSize; // a GigE Vision camera's packet size, likewise; nothing: negotiated
    std::optional<int64_t> frames;     // stop after this many frames
    std::optional<double> durationS;   // stop after this long
    std::optional<double> timeoutS;    // longest wait for the next frame; with only --frames, 5 s by default
    QString saveDir;                   // empty: no pictures are written
    int64_t every = 1;                 // save every k-th frame
};

struct DemoOptions {
    CommonOptions common;
    QString outDir = QStringLiteral("vxcam-demo");
};

struct InfoOptions {
    CommonOptions common;
    QString camera; // as `list` shows it, or the serial number alone
};

struct CheckOptions {
    CommonOptions common;
    QString interface; // empty: every interface but the loopback
};

struct ViewOptions {
    CommonOptions common;
    QString camera; // empty: the first camera listed
    AcqTriggerMode trigger = FreeRun;
    std::optional<int32_t> exposureUs;
    QString pixelFormat;                       // empty: the camera's own
    QString snapshotDir = QStringLiteral("."); // where the Snapshot button writes
    // For scripts and tests: after this many frames shown, write the window's picture to `windowShot` (when
    // set) and close. 0: run until the window is closed.
    int64_t quitAfterFrames = 0;
    QString windowShot;
};

// The text to print for --help (exit 0).
struct HelpRequest {
    QString text;
};

// `vxcam --version`.
struct VersionRequest {
    CommonOptions common;
};

// A command line that cannot run (exit 2): what was wrong, and the command whose help would explain it.
struct UsageError {
    QString message;
    QString command;   // empty for the tool as a whole
    bool json = false; // --json was among the arguments: the error goes to standard output as JSON too
};

using ParsedCommand = std::variant<HelpRequest, VersionRequest, UsageError, ListOptions, GrabOptions, DemoOptions,
                                   InfoOptions, ViewOptions, CheckOptions>;

// `arguments` as the process got them, the program name first.
[[nodiscard]] ParsedCommand parseCommandLine(const QStringList& arguments);

// The name of a trigger mode as the command line spells it ("freerun", ...).
[[nodiscard]] QString triggerName(AcqTriggerMode mode);

// When neither a frame count nor a duration is given: 10 frames, or 1 second for the idle mode, where no
// frame is expected.
constexpr int64_t kDefaultFrames = 10;
constexpr double kIdleDefaultDurationS = 1.0;
// The longest wait for the next frame when only a frame count is asked and --timeout is not given.
constexpr double kDefaultTimeoutS = 5.0;

} // namespace vxcam::host
