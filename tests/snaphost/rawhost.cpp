/* rawhost: drives one snapshot through the plug-in's entry points and prints, one line each,
 * every return code and every message that the host receives, with its inserts as they came.
 * Scenarios read these lines to check what a host sees of real volume manager failures, which
 * snaphost turns into prose.
 *
 * Usage: rawhost [-l LIBRARY] [-s PERCENT] [-t] VOLUME [SHELL-COMMAND]
 *   The volume list holds VOLUME with the origin's size in bytes and PERCENT (default 10).
 *   SHELL-COMMAND runs while the snapshot exists, with SNAPSHOT_DEVICE in its environment.
 *   -t sends the plug-in's trace lines to standard error.
 * Output lines: "start rc=N device=PATH", "message N: [insert] [insert] ...", "command rc=N",
 * "terminate rc=N", "pi-terminate rc=N", ... Newlines inside an insert are shown as "\n". The
 * exit status is 0 once the road has been walked to its end, whatever the codes were. */
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hostServices.h"
#include "pluginLibrary.h"

namespace {

void printInsert(const std::string& text) {
    std::string shown;
    for (char c : text) shown += c == '\n' ? std::string("\\n") : std::string(1, c);
    std::printf(" [%s]", shown.c_str());
}

void printMessage(const hostkit::PluginMessage& m) {
    std::printf("message %d:", m.number);
    if (m.known) {
        if (m.number == hostkit::kMsgRemoveFailed) printInsert(m.command);
        printInsert(m.where);
        printInsert(m.errorText);
        std::printf(" [%d]", m.commandRc);
        printInsert(m.file);
        std::printf(" [%d]", m.line);
    }
    std::putchar('\n');
    std::fflush(stdout);
}

uint64_t sizeOf(const char* path) {
    uint64_t bytes = 0;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        if (ioctl(fd, BLKGETSIZE64, &bytes) != 0) {
            struct stat st;
            bytes = fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
        }
        close(fd);
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    // By the name an installed library is found under at run time, else the development name.
    std::vector<std::string> library = {"libPiSNP.so.1", "libPiSNP.so"};
    unsigned long percent = 10;
    bool trace = false;
    int opt;
    while ((opt = getopt(argc, argv, "+l:s:t")) != -1) {
        if (opt == 'l')
            library = {optarg};
        else if (opt == 's')
            percent = std::strtoul(optarg, nullptr, 10);
        else if (opt == 't')
            trace = true;
        else
            return 2;
    }
    if (optind >= argc) {
        std::fprintf(stderr,
                     "usage: rawhost [-l LIBRARY] [-s PERCENT] [-t] VOLUME [SHELL-COMMAND]\n");
        return 2;
    }
    char* volume = argv[optind];
    const char* command = optind + 1 < argc ? argv[optind + 1] : nullptr;
    setvbuf(stdout, nullptr, _IOLBF, 0);

    std::string why;
    auto plugin = hostkit::PluginLibrary::load(library, &why);
    if (!plugin) {
        std::fprintf(stderr, "rawhost: cannot load the library:%s\n", why.c_str());
        return 2;
    }
    const hostkit::EntryPoints& lib = plugin->entry();
    static hostkit::HostServices host("arcclientV3.cat", "");
    if (trace)
        host.onTrace([](const char* file, int line, const std::string& text) {
            std::fprintf(stderr, "trace %s:%d %s\n", file, line, text.c_str());
        });
    host.onMessage(printMessage);

    piAppInfo_t info;
    std::memset(&info, 0, sizeof info);
    std::printf("query rc=%d\n", lib.queryApp(nullptr, &info));
    piSnapshotInitIn_t in;
    piSnapshotInitOut_t out;
    std::memset(&in, 0, sizeof in);
    in.hostServices = host.services();
    int16_t rc = lib.snapshotInit(&in, &out);
    std::printf("init rc=%d\n", rc);

    if (rc == 0) {
        bkpSnapVolumeList_t node;
        std::memset(&node, 0, sizeof node);
        node.source = volume;
        node.sizeFactor1 = sizeOf(volume);
        node.sizeFactor2 = percent;
        bkpSnapshotInitIn_t init;
        std::memset(&init, 0, sizeof init);
        unsigned int handle = 0;
        rc = lib.initializeSnapshot(&node, &init, BKP_SNAP_MODE_CREATE_AND_PREPARE, &handle, 0);
        std::printf("prepare rc=%d handle=%u\n", rc, handle);
        if (rc == 0) {
            bkpSnapshotStartOut_t started;
            std::memset(&started, 0, sizeof started);
            rc = lib.startSnapshot(handle, &started);
            std::printf("start rc=%d device=%s\n", rc, started.props.devicePath);
            /* Only a snapshot that came about is removed: a failed start leaves nothing. */
            if (rc == 0) {
                if (command != nullptr) {
                    setenv("SNAPSHOT_DEVICE", started.props.devicePath, 1);
                    int status = std::system(command);
                    std::printf("command rc=%d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
                }
                std::printf("end rc=%d\n", lib.endSnapshot(handle, 1));
                std::printf("terminate rc=%d\n", lib.terminateSnapshot(handle));
            }
        }
    }
    std::printf("pi-terminate rc=%d\n", lib.terminate());
    return 0;
}
