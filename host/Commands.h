// The tool's commands, each from parsed options to an exit code.
#pragma once

#include "host/CommandLine.h"
#include "host/ExitCode.h"

#include <QString>
#include <QStringList>

namespace vxcam::host {

// Parses `arguments` (the program name first) and runs the command. Host thread.
[[nodiscard]] ExitCode runCommand(const QStringList& arguments);

[[nodiscard]] ExitCode runList(const ListOptions& options);
[[nodiscard]] ExitCode runGrab(const GrabOptions& options);
[[nodiscard]] ExitCode runDemo(const DemoOptions& options);
[[nodiscard]] ExitCode runInfo(const InfoOptions& options);
[[nodiscard]] ExitCode runVersion(const VersionRequest& request);
[[nodiscard]] ExitCode runCheck(const CheckOptions& options);
// The live viewer (ViewerWindow.cpp); makes the widget application itself.
[[nodiscard]] ExitCode runView(const ViewOptions& options);

// Says why a command failed, on standard error and, with --json, as {"result": error, "exitCode": code} on
// standard output; returns `code`.
ExitCode failCommand(const QString& error, ExitCode code, bool json);

// The simulated-camera file of the demo, which the build puts beside the binary.
inline constexpr const char* kDemoConfigName = "vxcam-demo-cameras.json";

} // namespace vxcam::host
