// Logging categories of the camera module. Lines carry no file, line or function.
//
// Under Qt's default message handler a line of these categories is printed with the category's name in front
// ("vxcam.driver: ..."); a host's own handler receives the text alone and the category in the message context.
#pragma once

#include <QLoggingCategory>

namespace vxcam {
// "vxcam.driver": opening, triggers, exposure, SDK errors; every level on by default.
const QLoggingCategory& lcDriver();
// "vxcam.driver.frame": one debug line per delivered frame, "CCameraVeyra::BufferReady". Off by default, since
// it would write a line for every frame at any rate; a host turns it on with the logging rule
// "vxcam.driver.frame.debug=true" (QT_LOGGING_RULES or QLoggingCategory::setFilterRules).
const QLoggingCategory& lcFrame();
} // namespace vxcam
