#include "libraryLocation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

// Set by the build: the installation's directories relative to the program's, and the names of
// the library.
#ifndef SNAPHOST_LIBDIR_FROM_BINDIR
#define SNAPHOST_LIBDIR_FROM_BINDIR "../lib"
#endif
#ifndef SNAPHOST_CATALOGS_FROM_BINDIR
#define SNAPHOST_CATALOGS_FROM_BINDIR "../share/pisnp"
#endif
#ifndef SNAPHOST_LIBRARY_SONAME
#define SNAPHOST_LIBRARY_SONAME "libPiSNP.so.1"
#endif
#define SNAPHOST_LIBRARY_NAME "libPiSNP.so"

namespace snaphost {

namespace {

std::string programDirectory() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::string();
    std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/'));
}

const char* environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::vector<std::string> libraryCandidates(const Options& options) {
    if (options.libraryPath) return {*options.libraryPath};
    if (const char* env = environment("SNAPHOST_LIBRARY")) return {env};
    std::vector<std::string> out;
    std::string dir = programDirectory();
    auto add = [&out](const std::string& candidate) {
        for (const std::string& c : out)
            if (c == candidate) return;
        out.push_back(candidate);
    };
    if (!dir.empty()) {
        // Installed: by the name the program needs at run time, then the development name.
        add(dir + "/" SNAPHOST_LIBDIR_FROM_BINDIR "/" SNAPHOST_LIBRARY_SONAME);
        add(dir + "/" SNAPHOST_LIBDIR_FROM_BINDIR "/" SNAPHOST_LIBRARY_NAME);
        // Beside the program, one level up as in the build tree, an installation's lib.
        add(dir + "/" SNAPHOST_LIBRARY_NAME);
        add(dir + "/../" SNAPHOST_LIBRARY_NAME);
        add(dir + "/../lib/" SNAPHOST_LIBRARY_NAME);
    }
    add(SNAPHOST_LIBRARY_SONAME);
    add(SNAPHOST_LIBRARY_NAME);
    return out;
}

std::string clientDirectory(const Options& options, const std::string& libraryPath) {
    if (options.clientDir) return *options.clientDir;
    if (const char* env = environment("ARC_DIR")) return env;
    std::string dir = programDirectory();
    std::string installed = dir + "/" SNAPHOST_CATALOGS_FROM_BINDIR;
    if (!dir.empty() && isDirectory(installed)) {
        char resolved[PATH_MAX];
        return realpath(installed.c_str(), resolved) != nullptr ? resolved : installed;
    }
    size_t slash = libraryPath.rfind('/');
    return slash == std::string::npos ? std::string() : libraryPath.substr(0, slash);
}

}  // namespace snaphost
