#include "host/HostPlatform.h"

#include <csignal>
#include <cstdlib>
#include <initializer_list>

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
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
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
