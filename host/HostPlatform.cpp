#include "host/HostPlatform.h"

#include <csignal>
#include <cstdlib>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vxcam::host::platform {
namespace {

volatile std::sig_atomic_t g_interrupted = 0; // written by the signal handler only

extern "C" void onInterrupt(int signal) {
    g_interrupted = 1;
    std::signal(signal, SIG_DFL);
}

} // namespace

bool hasDisplay() noexcept {
#if defined(_WIN32) || defined(__APPLE__)
    return true;
#else
    // Read once, on the host thread at start, before any other thread runs.
    const auto named = [](const char* name) {
        const char* value = std::getenv(name); // NOLINT(concurrency-mt-unsafe)
        return value != nullptr && *value != '\0';
    };
    return named("QT_QPA_PLATFORM") || named("DISPLAY") || named("WAYLAND_DISPLAY");
#endif
}

bool isTerminal(std::FILE* stream) noexcept {
    if (stream == nullptr) {
        return false;
    }
#if defined(_WIN32)
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

void catchInterrupt() noexcept {
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

bool interrupted() noexcept {
    return g_interrupted != 0;
}

} // namespace vxcam::host::platform
