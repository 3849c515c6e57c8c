#include "base/sysCalls.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>

namespace pisnp::sys {

namespace {

// Thin adapters where the C library's declaration differs from the table's (variadic open,
// restrict-qualified or differently typed parameters).
int realGettimeofday(timeval* tv, void*) {
    return ::gettimeofday(tv, nullptr);
}
int realOpen(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
FILE* realFopen(const char* path, const char* mode) {
    return std::fopen(path, mode);
}
int realFcntlLock(int fd, int command, struct flock* lock) {
    return ::fcntl(fd, command, lock);
}
// The C library's posix_spawn learns of a failed exec through memory it shares with the child.
// Where a clone that shares memory runs as a plain fork (under qemu-user and valgrind, say) that
// report is lost and a program that cannot run looks like one that ran and ended with 127. A
// close-on-exec pipe tells the two apart everywhere: it closes unread when the exec succeeds and
// carries the exec's errno when it fails.
int realSpawn(pid_t* pid, const char* path, char* const argv[], const sigset_t* toDefault) {
    int report[2];
    // Without a descriptor to spare no child could be watched: as if none could be made.
    if (::pipe2(report, O_CLOEXEC) != 0) return EAGAIN;
    sigset_t all;
    sigset_t saved;
    sigfillset(&all);
    // No handler of the caller may run in the child while it still shares the caller's memory.
    ::pthread_sigmask(SIG_SETMASK, &all, &saved);
    pid_t child = ::vfork();
    if (child == 0) {
        // Until exec or _exit this runs on the caller's stack: system calls only, no return.
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig) {
            struct sigaction old {};
            if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_DFL) continue;
            if (old.sa_handler == SIG_IGN && sigismember(toDefault, sig) != 1) continue;
            ::sigaction(sig, &defaults, nullptr);
        }
        sigset_t none;
        sigemptyset(&none);
        ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
        ::execve(path, argv, environ);
        int err = errno;
        if (::write(report[1], &err, sizeof err) < 0) ::_exit(126);
        ::_exit(127);
    }
    int forkErr = errno;
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    ::close(report[1]);
    if (child < 0) {
        ::close(report[0]);
        return forkErr;
    }
    int err = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &err, sizeof err);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got != static_cast<ssize_t>(sizeof err)) {
        *pid = child;
        return 0;
    }
    // The child ends at once; it is reaped here, so the caller never sees it.
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return err;
}

constexpr Table kReal = {
    realGettimeofday, ::time,         ::clock_gettime, ::sleep,  ::select,      realOpen,
    ::close,          ::read,         ::write,         ::pread,  ::pwrite,      ::stat,   ::lstat,       ::unlink,
    ::rename,         ::mkostemp,     realFopen,       ::fdopen, std::fwrite,   std::fflush,
    std::fclose,      realSpawn, ::waitpid,       ::shmget, ::shmat,       ::shmdt,
    ::shmctl,         ::access,       ::mkdir,         ::rmdir,  realFcntlLock, ::popen,
    ::pclose,
};

}  // namespace

constinit Table table = kReal;

const Table& real() {
    return kReal;
}

}  // namespace pisnp::sys
