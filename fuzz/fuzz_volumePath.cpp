// Device paths and names as a host hands them over, through the checker and the command lines.
// The first byte chooses the command directory; the rest is a source path, a NUL, a snapshot
// name. Whatever is accepted must give exactly the fixed command lines with nothing in their
// variable parts but name characters and the path's slashes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "snapshot/lvmSnapshotOps.h"

namespace {

bool onlyNameCharacters(const std::string& s, bool slashes) {
    for (char c : s) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  std::strchr("+_.-", c) != nullptr || (slashes && c == '/');
        if (!ok || c == '\0') return false;
    }
    return !s.empty();
}

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kDirs[] = {"", "/sbin/", "/usr/sbin/", "/tmp/"};
    const char* dir = kDirs[data[0] % 4];
    std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string source = rest.substr(0, rest.find('\0'));
    std::string name = rest.size() > source.size() ? rest.substr(source.size() + 1) : "snap";
    name = name.substr(0, name.find('\0'));

    std::string_view group;
    bool pathOk = lvmops::parseVolumePath(source.c_str(), &group);
    require(!pathOk || (onlyNameCharacters(source, true) && source.rfind("/dev/", 0) == 0));
    char line[lvmops::kCommandRoom];
    if (lvmops::formatCreateCommand(line, dir, 4096, name.c_str(), source.c_str())) {
        require(pathOk && onlyNameCharacters(name, false) && std::strcmp(dir, "/tmp/") != 0);
        require(std::string(line) == std::string(dir) + "lvcreate -L 4096K -n " + name + " -s " +
                                         source + " 1>/dev/null");
    }
    // The group as a path gave it, or the raw text when the path was refused.
    std::string vg = pathOk ? std::string(group) : source;
    if (lvmops::formatRemoveCommand(line, dir, vg.c_str(), name.c_str())) {
        require(onlyNameCharacters(vg, false) && onlyNameCharacters(name, false));
        require(std::string(line) ==
                std::string(dir) + "lvremove -f /dev/" + vg + "/" + name + " 1>/dev/null");
    }
    return 0;
}
