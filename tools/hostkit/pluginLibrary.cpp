#include "pluginLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace hostkit {

std::unique_ptr<PluginLibrary> PluginLibrary::load(const std::vector<std::string>& candidates,
                                                   std::string* why) {
    std::string reasons;
    for (const std::string& candidate : candidates) {
        // A missing file says more as "no such file" than as the loader's long sentence.
        if (candidate.find('/') != std::string::npos && access(candidate.c_str(), F_OK) != 0) {
            reasons += "\n  " + candidate + ": no such file";
            continue;
        }
        void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* error = dlerror();
            reasons += "\n  " + candidate + ": " + (error != nullptr ? error : "not loadable");
            continue;
        }
        std::unique_ptr<PluginLibrary> library(new PluginLibrary());
        library->handle_ = handle;
        const char* missing = nullptr;
#define HOSTKIT_LOAD_ENTRY(type, member, symbol)                                   \
    library->entry_.member = reinterpret_cast<type>(dlsym(handle, symbol));        \
    if (library->entry_.member == nullptr && missing == nullptr) missing = symbol;
        HOSTKIT_ENTRY_POINTS(HOSTKIT_LOAD_ENTRY)
#undef HOSTKIT_LOAD_ENTRY
        if (missing != nullptr) {
            // Another library of that name, not this plug-in: keep looking.
            reasons += "\n  " + candidate + ": has no entry point " + missing;
            dlclose(handle);
            continue;
        }
        Dl_info info;
        char resolved[PATH_MAX];
        if (dladdr(reinterpret_cast<void*>(library->entry_.queryApp), &info) != 0 &&
            info.dli_fname != nullptr && realpath(info.dli_fname, resolved) != nullptr)
            library->path_ = resolved;
        else
            library->path_ = candidate;
        return library;
    }
    if (why != nullptr) *why = reasons;
    return nullptr;
}

}  // namespace hostkit
