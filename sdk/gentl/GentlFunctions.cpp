#include "sdk/gentl/GentlFunctions.h"

#include <vector>

namespace sdk::gentl {
namespace {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif
} // namespace

GentlLibrary::GentlLibrary(const QString& path) : m_path(path), m_library(path) {}

std::shared_ptr<GentlLibrary> GentlLibrary::load(const QString& path, std::string& error) {
    std::unique_ptr<GentlLibrary> library(new GentlLibrary(path)); // NOLINT: private constructor
    // Symbols of a producer stay its own: two producers may carry the same helper libraries. The sanitizers'
    // runtimes cannot take a library bound so, and load it plainly.
    if (!kSanitized) {
        library->m_library.setLoadHints(QLibrary::DeepBindHint);
    }
    if (!library->m_library.load()) {
        error = library->m_library.errorString().toStdString();
        return nullptr;
    }
    GentlFunctions& f = library->m_functions;
    std::vector<const char*> missing;
#define VXCAM_GENTL_RESOLVE(name)                                                                                      \
    f.name = reinterpret_cast<P##name>(library->m_library.resolve(#name)); /* NOLINT: the standard's signature */      \
    if (f.name == nullptr) {                                                                                           \
        missing.push_back(#name);                                                                                      \
    }
    VXCAM_GENTL_FUNCTIONS(VXCAM_GENTL_RESOLVE)
#undef VXCAM_GENTL_RESOLVE
    if (!missing.empty()) {
        error = "it lacks the GenTL function";
        for (const char* name : missing) {
            error += std::string(" ") + name;
        }
        return nullptr;
    }
    const GC_ERROR result = f.GCInitLib();
    if (result != GC_ERR_SUCCESS) {
        error = "GCInitLib failed: " + library->lastError(result);
        return nullptr;
    }
    library->m_bInitialised = true;
    return library;
}

GentlLibrary::~GentlLibrary() {
    if (m_bInitialised) {
        static_cast<void>(m_functions.GCCloseLib());
    }
    // The library stays mapped: a producer may have threads of its own still ending, and unloading code under
    // them would crash the host. QLibrary unloads only on an explicit unload().
}

std::string GentlLibrary::lastError(GC_ERROR code) const {
    std::string text = "error " + std::to_string(code);
    if (m_functions.GCGetLastError == nullptr) {
        return text;
    }
    GC_ERROR lastCode = GC_ERR_SUCCESS;
    char description[1024] = {};
    size_t size = sizeof description;
    if (m_functions.GCGetLastError(&lastCode, description, &size) == GC_ERR_SUCCESS) {
        // A description that does not end within its size is cut at the room given: it is said, not parsed.
        description[sizeof description - 1] = '\0';
        if (description[0] != '\0') {
            text += std::string(": ") + description;
        }
    }
    return text;
}

} // namespace sdk::gentl
