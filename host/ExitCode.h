// The tool's exit codes. Scripts tell the failures apart by them, so the values are fixed once published.
#pragma once

namespace vxcam::host {

enum class ExitCode : int {
    Success = 0,
    Internal = 1,          // something failed inside the tool itself
    Usage = 2,             // unknown command or option, a bad or missing option value
    ModuleUnusable = 3,    // the module cannot be loaded, lacks its exports, or makes no camera object
    CameraUnavailable = 4, // the camera is not listed, or is listed but does not open
    StartFailed = 5,       // the camera did not start in the chosen mode, or refused a software trigger
    TooFewFrames = 6,      // fewer frames than asked for arrived in time
    OutputFailed = 7,      // a folder or a picture could not be written
    SettingRefused = 8,    // the camera refused a setting the command line asked for (ISetProperty failed)
    SettingsToChange = 9,  // `check` found host settings that GigE Vision cameras need changed
    Interrupted = 130,     // stopped by Ctrl-C or a termination request; the summary says how far it got
};

[[nodiscard]] constexpr int toInt(ExitCode code) noexcept {
    return static_cast<int>(code);
}

} // namespace vxcam::host
