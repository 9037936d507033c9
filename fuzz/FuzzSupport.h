// What the fuzz targets share: quiet logging, and a folder for the files they hand the SDK.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace vxcam::fuzz {

// The module and the SDK log every refused input; at tens of thousands of inputs a second that would drown the
// fuzzer's own report, so their lines are dropped. Sanitizer reports do not go through Qt and stay visible.
inline void silenceQtLogging() {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

// A broken promise of the code under test: libFuzzer treats the abort as a crash and keeps the input.
[[noreturn]] inline void violated(const char* what, const QByteArray& input) {
    std::fprintf(stderr, "violated: %s (input \"%s\")\n", what, input.toPercentEncoding().constData());
    std::abort();
}

} // namespace vxcam::fuzz
