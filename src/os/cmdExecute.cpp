#include "pisnp/processes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/report.h"
#include "base/sysCalls.h"
#include "mem/checkedAlloc.h"
#include "pisnp/files.h"
#include "pisnp/resultCodes.h"
#include "pisnp/systemInfo.h"
#include "pisnp/traceFlags.h"

namespace {

constexpr char kShell[] = "/bin/sh";
constexpr char kCaptureTemplate[] = "/tmp/arc.logXXXXXX";
constexpr char kSwitchHelper[] = "arcswitch";
// Room for the usual command line; a longer command gets a buffer that fits it.
constexpr size_t kLineSize = 8726;

// Low 7 bits 0: exited, with the exit status in bits 8 to 15. Low 7 bits 1 to 126: ended by
// that signal. Low 8 bits 127: stopped, with the stop signal in bits 8 to 15.
int decodeWaitStatus(int status) {
    int low7 = status & 0x7f;
    if (low7 == 0) return (status >> 8) & 0xff;
    if (low7 != 0x7f) return low7;
    if ((status & 0xff) == 0x7f) return (status >> 8) & 0xff;
    return 0;
}

// Waits for that one child only, so that other children of the host are left to it.
bool waitForChild(pid_t pid, int* status) {
    pid_t r;
    do {
        r = pisnp::sys::waitpid(pid, status, 0);
    } while (r == -1 && errno == EINTR);
    return r != -1;
}

// Creates the capture file (its name replaces the template in `name`) and the redirected
// command line. False, with nothing left behind, when either cannot be had.
bool prepareCapture(char* name, const char* command, int alsoStdout, char** line) {
    // Close-on-exec so that a child forked by another thread meanwhile does not inherit it.
    int fd = pisnp::sys::mkostemp(name, O_CLOEXEC);
    if (fd == -1) {
        REPORT_TRACE(TR_GENERAL, "mkstemp for %s failed\n", kCaptureTemplate);
        return false;
    }
    close(fd);
    const char* form = alsoStdout != 0 ? "%s 2> %s 1>&2\n" : "%s 2> %s\n";
    size_t size = std::max(kLineSize, std::strlen(command) + std::strlen(name) + 16);
    *line = static_cast<char*>(std::malloc(size));
    if (*line == nullptr) {
        REPORT_TRACE(TR_GENERAL, "psCmdExecute: Malloc failed\n");
        pisnp::sys::unlink(name);
        return false;
    }
    std::snprintf(*line, size, form, command, name);
    return true;
}

// Reads the capture file into a new block and removes the file, whatever happens.
char* readCapture(const char* name) {
    struct stat st;
    if (pisnp::sys::stat(name, &st) != 0) {
        REPORT_TRACE(TR_GENERAL, "psCmdExecute unable to get status for %s\n", name);
        pisnp::sys::unlink(name);
        return nullptr;
    }
    size_t size = static_cast<size_t>(st.st_size);
    char* text = static_cast<char*>(ARC_MALLOC(size + 2));
    if (text == nullptr) {
        REPORT_TRACE(TR_GENERAL, "psCmdExecute malloc failure\n");
        pisnp::sys::unlink(name);
        return nullptr;
    }
    int fd = pisnp::sys::open(name, O_RDONLY | O_CLOEXEC);
    if (fd == -1) {
        int err = errno;
        REPORT_TRACE(TR_GENERAL, "psCmdExecute open for %s failed with %d %s\n", name, err,
                     std::strerror(err));
        pisnp::sys::unlink(name);
        ARC_FREE(text);
        return nullptr;
    }
    size_t got = 0;
    while (got < size) {
        ssize_t n = pisnp::sys::read(fd, text + got, size - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(fd);
    pisnp::sys::unlink(name);
    text[got] = '\0';
    return text;
}

// Starts argv, waits when asked to, and decodes the child's status. `waited` tells whether a
// status was collected (and so whether a capture file holds anything).
int runAndDecode(const char** argv, int wait, bool* waited) {
    *waited = false;
    // The default action keeps the child's status for waitpid even when the host ignores
    // the signal or reaps in a handler of its own.
    if (wait != 0) pkInstallSignalHandler(SIGCHLD, nullptr);
    pid_t pid = SpawnTask(argv);
    if (pid == -1) return PISNP_RC_NO_CHILD;
    if (wait != 1) return 0;
    int status = 0;
    if (!waitForChild(pid, &status)) {
        REPORT_TRACE(TR_GENERAL, "psCmdExecute: waitpid error\n");
        return PISNP_RC_UNEXPECTED;
    }
    *waited = true;
    return decodeWaitStatus(status);
}

}  // namespace

int psCmdExecute(char* command, int wait, char** output, int alsoStdout) {
    char captureName[sizeof kCaptureTemplate];
    std::memcpy(captureName, kCaptureTemplate, sizeof kCaptureTemplate);
    char* line = nullptr;
    bool capturing = false;

    if (output != nullptr) *output = nullptr;
    if (command == nullptr) return PISNP_RC_INVALID_ARG;
    if (output != nullptr && wait == 1) {
        capturing = prepareCapture(captureName, command, alsoStdout, &line);
    }
    const char* argv[7] = {kShell, "-c", capturing ? line : command, nullptr};

    bool waited;
    int rc = runAndDecode(argv, wait, &waited);
    std::free(line);
    if (capturing) {
        if (waited) {
            *output = readCapture(captureName);
        } else {
            pisnp::sys::unlink(captureName);
        }
    }
    return rc;
}

int psSwitchUserCmdExecute(char* command, char* user, unsigned int id, int wait) {
    if (command == nullptr || user == nullptr) return PISNP_RC_INVALID_ARG;
    const char* dir = dsGetSystemInfo()->execDir;
    std::string helper = std::string(dir != nullptr ? dir : "") + kSwitchHelper;
    char idText[16];
    std::snprintf(idText, sizeof idText, "%d", static_cast<int>(id));
    // execv copies the vector into the new program, so the command needs no copy of its own.
    const char* argv[7] = {helper.c_str(), command, user, idText, nullptr};
    bool waited;
    return runAndDecode(argv, wait, &waited);
}

int psCmdExecuteAsUser(char*, char*, char*, char*, char**) {
    return PISNP_RC_NOT_ON_PLATFORM;
}
