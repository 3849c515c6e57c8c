#include "base/sysCalls.h"

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
int realPosixSpawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                   const posix_spawnattr_t* attr, char* const argv[], char* const envp[]) {
    return ::posix_spawn(pid, path, actions, attr, argv, envp);
}

constexpr Table kReal = {
    realGettimeofday, ::time,         ::clock_gettime, ::sleep,  ::select,      realOpen,
    ::close,          ::read,         ::write,         ::pread,  ::pwrite,      ::stat,   ::lstat,       ::unlink,
    ::rename,         ::mkostemp,     realFopen,       ::fdopen, std::fwrite,   std::fflush,
    std::fclose,      realPosixSpawn, ::waitpid,       ::shmget, ::shmat,       ::shmdt,
    ::shmctl,         ::access,       ::mkdir,         ::rmdir,  realFcntlLock, ::popen,
    ::pclose,
};

}  // namespace

constinit Table table = kReal;

const Table& real() {
    return kReal;
}

}  // namespace pisnp::sys
