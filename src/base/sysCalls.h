// The seam between the library and the operating system.
//
// The system calls that decide behaviour a test needs to change (a failing stat, a full disk, a
// child that cannot be started) or time it must not spend (sleeps, clocks) are made through one
// table instead of directly. The library never changes the table; a unit test replaces single
// entries for its own duration with sys::Override, before it starts threads that use them.
// Calls that no test needs to change stay direct.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace pisnp::sys {

struct Table {
    // Clocks and pauses.
    int (*gettimeofday)(timeval* tv, void* tz);
    time_t (*time)(time_t* out);
    int (*clock_gettime)(clockid_t clock, timespec* out);
    unsigned int (*sleep)(unsigned int seconds);
    int (*select)(int n, fd_set* r, fd_set* w, fd_set* e, timeval* timeout);
    // Files by descriptor and by name.
    int (*open)(const char* path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buf, size_t len);
    ssize_t (*write)(int fd, const void* buf, size_t len);
    ssize_t (*pread)(int fd, void* buf, size_t len, off_t offset);
    ssize_t (*pwrite)(int fd, const void* buf, size_t len, off_t offset);
    int (*stat)(const char* path, struct stat* out);
    int (*lstat)(const char* path, struct stat* out);
    int (*unlink)(const char* path);
    int (*rename)(const char* from, const char* to);
    int (*mkostemp)(char* pattern, int flags);
    // Streams of the trace and log files.
    FILE* (*fopen)(const char* path, const char* mode);
    FILE* (*fdopen)(int fd, const char* mode);
    size_t (*fwrite)(const void* data, size_t size, size_t count, FILE* stream);
    int (*fflush)(FILE* stream);
    int (*fclose)(FILE* stream);
    // Processes.
    // Starts path with argv and the caller's environment, without copying the caller's memory,
    // with the signals in toDefault (and every caught one) at their default and an empty signal
    // mask. 0 with *pid set, or the errno of the fork or of the exec when the program cannot be
    // run (no child is left then).
    int (*spawn)(pid_t* pid, const char* path, char* const argv[], const sigset_t* toDefault);
    pid_t (*waitpid)(pid_t pid, int* status, int options);
    // System V shared memory.
    int (*shmget)(key_t key, size_t size, int flags);
    void* (*shmat)(int id, const void* addr, int flags);
    int (*shmdt)(const void* addr);
    int (*shmctl)(int id, int command, shmid_ds* buf);
    // Files and directories by name, record locks, commands whose output is read.
    int (*access)(const char* path, int how);
    int (*mkdir)(const char* path, mode_t mode);
    int (*rmdir)(const char* path);
    int (*fcntlLock)(int fd, int command, struct flock* lock);  // F_GETLK, F_SETLK, F_SETLKW
    FILE* (*popen)(const char* command, const char* mode);
    int (*pclose)(FILE* stream);
};

// The table in use. Read it through the functions below.
extern Table table;

inline int gettimeofday(timeval* tv) {
    return table.gettimeofday(tv, nullptr);
}
inline time_t time(time_t* out) {
    return table.time(out);
}
inline int clock_gettime(clockid_t clock, timespec* out) {
    return table.clock_gettime(clock, out);
}
inline unsigned int sleep(unsigned int seconds) {
    return table.sleep(seconds);
}
inline int select(int n, fd_set* r, fd_set* w, fd_set* e, timeval* timeout) {
    return table.select(n, r, w, e, timeout);
}
inline int open(const char* path, int flags, mode_t mode = 0) {
    return table.open(path, flags, mode);
}
inline int close(int fd) {
    return table.close(fd);
}
inline ssize_t read(int fd, void* buf, size_t len) {
    return table.read(fd, buf, len);
}
inline ssize_t write(int fd, const void* buf, size_t len) {
    return table.write(fd, buf, len);
}
inline ssize_t pread(int fd, void* buf, size_t len, off_t offset) {
    return table.pread(fd, buf, len, offset);
}
inline ssize_t pwrite(int fd, const void* buf, size_t len, off_t offset) {
    return table.pwrite(fd, buf, len, offset);
}
inline int stat(const char* path, struct stat* out) {
    return table.stat(path, out);
}
inline int lstat(const char* path, struct stat* out) {
    return table.lstat(path, out);
}
inline int unlink(const char* path) {
    return table.unlink(path);
}
inline int rename(const char* from, const char* to) {
    return table.rename(from, to);
}
inline int mkostemp(char* pattern, int flags) {
    return table.mkostemp(pattern, flags);
}
inline FILE* fopen(const char* path, const char* mode) {
    return table.fopen(path, mode);
}
inline FILE* fdopen(int fd, const char* mode) {
    return table.fdopen(fd, mode);
}
inline size_t fwrite(const void* data, size_t size, size_t count, FILE* stream) {
    return table.fwrite(data, size, count, stream);
}
inline int fflush(FILE* stream) {
    return table.fflush(stream);
}
inline int fclose(FILE* stream) {
    return table.fclose(stream);
}
inline int spawn(pid_t* pid, const char* path, char* const argv[], const sigset_t* toDefault) {
    return table.spawn(pid, path, argv, toDefault);
}
inline pid_t waitpid(pid_t pid, int* status, int options) {
    return table.waitpid(pid, status, options);
}
inline int access(const char* path, int how) {
    return table.access(path, how);
}
inline int mkdir(const char* path, mode_t mode) {
    return table.mkdir(path, mode);
}
inline int rmdir(const char* path) {
    return table.rmdir(path);
}
inline int fcntlLock(int fd, int command, struct flock* lock) {
    return table.fcntlLock(fd, command, lock);
}
inline FILE* popen(const char* command, const char* mode) {
    return table.popen(command, mode);
}
inline int pclose(FILE* stream) {
    return table.pclose(stream);
}

inline int shmget(key_t key, size_t size, int flags) {
    return table.shmget(key, size, flags);
}
inline void* shmat(int id, const void* addr, int flags) {
    return table.shmat(id, addr, flags);
}
inline int shmdt(const void* addr) {
    return table.shmdt(addr);
}
inline int shmctl(int id, int command, shmid_ds* buf) {
    return table.shmctl(id, command, buf);
}

// The operating system's own entries, for a replacement that wants to call through.
const Table& real();

// Replaces one entry until the object goes out of scope.
template <typename Fn>
class Override {
  public:
    Override(Fn Table::*entry, Fn replacement) : entry_(entry), saved_(table.*entry) {
        table.*entry = replacement;
    }
    ~Override() { table.*entry_ = saved_; }
    Override(const Override&) = delete;
    Override& operator=(const Override&) = delete;

  private:
    Fn Table::*entry_;
    Fn saved_;
};

}  // namespace pisnp::sys
