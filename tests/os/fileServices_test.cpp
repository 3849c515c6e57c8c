// The file layer against real trees below /tmp: copies, directories and their removal (links
// never followed, paths up to the limit), symbolic links, descriptors, and lock files contended
// for by several processes.
#include "pisnp/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <set>
#include <string>

#include "base/sysCalls.h"
#include "listedEntries.h"
#include "mem/checkedAlloc.h"
#include "pisnp/resultCodes.h"
#include "support/allocTracker.h"

namespace {

class FileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/pisnp-fs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        // rm copes with trees deeper than a path can name.
        std::string rm = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(rm.c_str()), 0);
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    bool exists(const std::string& name) const {
        struct stat st;
        return lstat(path(name).c_str(), &st) == 0;
    }
    std::string dir_;
};

TEST_F(FileTest, CopiesAreByteExactAndReportWhatFailed) {
    std::string data;
    for (int i = 0; i < 200000; ++i) data += static_cast<char>(i * 7);
    write("src", data);
    write("empty", "");
    std::string src = path("src"), dst = path("dst"), empty = path("empty");
    EXPECT_EQ(pkBinCopyFile(src.data(), dst.data(), 1000000), 0) << "the piece is cut to 64 KiB";
    EXPECT_EQ(read("dst"), data);
    EXPECT_EQ(pkBinCopyFile(empty.data(), dst.data(), 512), 0);
    EXPECT_EQ(read("dst"), "");
    std::string missing = path("missing"), noDir = path("no/dst");
    EXPECT_EQ(pkBinCopyFile(missing.data(), dst.data(), 512), PISNP_RC_COPY_OPEN_FAILED);
    EXPECT_EQ(pkBinCopyFile(src.data(), noDir.data(), 512), PISNP_RC_COPY_OPEN_FAILED);

    write("text", "one\ntwo\n" + std::string(1500, 'x') + "\nlast");
    std::string text = path("text"), copy = path("copy");
    EXPECT_EQ(pkCopyFile(text.data(), copy.data()), 1);
    EXPECT_EQ(read("copy"), read("text")) << "long lines arrive in pieces, but whole";
}

TEST_F(FileTest, ScanstrWidensTheChosenStringConversions) {
    auto widened = [](unsigned mask, std::wstring fmt) {
        wchar_t* out = scanstr(mask, fmt.data());
        std::wstring result = out != nullptr ? out : L"<null>";
        ARC_FREE(out);
        return result;
    };
    EXPECT_EQ(widened(1, L"name %s, %d"), L"name %ls, %d") << "only c and s are widened";
    EXPECT_EQ(widened(2, L"%-8s %s"), L"%-8s %ls");
    EXPECT_EQ(widened(2, L"%% %c"), L"%% %lc") << "%% takes a bit too";
    EXPECT_EQ(widened(1, L"%s and 100%"), L"%ls and 100%") << "a lone % ends the scan";
    // Every bit of the mask set: the output outgrows the input by 32 letters, no more.
    std::wstring many, expected;
    for (int i = 0; i < 33; ++i) {
        many += L"%s";
        expected += i < 32 ? L"%ls" : L"%s";
    }
    EXPECT_EQ(widened(0xFFFFFFFF, many), expected);
}

TEST_F(FileTest, DirectoriesAreCreatedAlongAPath) {
    std::string deep = path("a/b/c");
    EXPECT_EQ(psMakePath(deep.data()), 1);
    EXPECT_TRUE(exists("a/b"));
    EXPECT_FALSE(exists("a/b/c")) << "the part after the last slash is a file name";
    std::string again = path("a");
    EXPECT_EQ(psFileCreateDir(again.data(), nullptr), 0) << "an existing directory is fine";
    std::string orphan = path("none/x");
    EXPECT_EQ(psFileCreateDir(orphan.data(), nullptr), PISNP_RC_NOT_FOUND);
}

TEST_F(FileTest, RemovingATreeNeverFollowsItsLinks) {
    std::string outside = path("outside");
    mkdir(outside.c_str(), 0755);
    write("outside/keep", "precious");
    std::string tree = path("tree");
    std::string sub = tree + "/sub/deeper";
    ASSERT_EQ(psMakePath((sub + "/").data()), 1);
    write("tree/file", "x");
    write("tree/sub/deeper/file", "y");
    ASSERT_EQ(symlink(outside.c_str(), (tree + "/sub/link").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", (tree + "/dangling").c_str()), 0);

    EXPECT_EQ(psFileRemoveDirEx(tree.data()), 0);
    EXPECT_FALSE(exists("tree"));
    EXPECT_EQ(read("outside/keep"), "precious");

    std::string file = path("outside/keep");
    EXPECT_EQ(psFileRemoveDirEx(file.data()), 0) << "not a directory: nothing to do";
    EXPECT_TRUE(exists("outside/keep"));
}

// Makes a chain of directories below base whose deepest file has a path of exactly total
// characters; returns that path.
std::string chainOfLength(const std::string& base, size_t total) {
    std::string p = base;
    int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY);
    while (p.size() + 1 + 200 < total) {
        std::string name(200, 'd');
        mkdirat(fd, name.c_str(), 0755);
        int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        p += "/" + name;
    }
    std::string leaf(total - p.size() - 1, 'f');
    close(openat(fd, leaf.c_str(), O_CREAT | O_WRONLY, 0644));
    close(fd);
    return p + "/" + leaf;
}

TEST_F(FileTest, RemovingATreeReachesPathsUpToTheLimitAndStopsBeyondIt) {
    std::string atLimit = path("limit");
    mkdir(atLimit.c_str(), 0755);
    std::string deepest = chainOfLength(atLimit, 4095);
    ASSERT_EQ(deepest.size(), 4095u);
    EXPECT_EQ(psFileRemoveDirEx(atLimit.data()), 0);
    EXPECT_FALSE(exists("limit"));

    std::string beyond = path("beyond");
    mkdir(beyond.c_str(), 0755);
    chainOfLength(beyond, 4096);
    EXPECT_EQ(psFileRemoveDirEx(beyond.data()), PISNP_RC_NAME_TOO_LONG);
    EXPECT_TRUE(exists("beyond")) << "what cannot be named stays, and so does its way there";
}

TEST_F(FileTest, SymLinksAreRecognisedReadAndDeleted) {
    write("f", "");
    std::string file = path("f"), link = path("l");
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    char target[4097] = "";
    EXPECT_EQ(psIsFileSymLink(link.data(), target), 0);
    EXPECT_EQ(file, target);
    EXPECT_EQ(psIsFileSymLink(file.data(), nullptr), PISNP_RC_NOT_FOUND);
    std::string missing = path("missing"), throughFile = path("f/x");
    EXPECT_EQ(psIsFileSymLink(missing.data(), nullptr), PISNP_RC_NOT_FOUND);
    EXPECT_EQ(psIsFileSymLink(throughFile.data(), nullptr), PISNP_RC_ACCESS_DENIED)
        << "a file in the way is an error, not an answer";

    EXPECT_EQ(psDeleteSymLink(link.data()), 0);
    EXPECT_EQ(psDeleteSymLink(link.data()), 0) << "a link already gone is not an error";
    EXPECT_EQ(psFileExists(file.c_str()), 1) << "deleting the link keeps its target";

    unsigned long size = 99;
    write("sized", "12345");
    std::string sized = path("sized");
    EXPECT_EQ(psFileGetFileSize(sized.data(), &size, 0), 0);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(psFileGetFileSize(missing.data(), &size, 0), -1);
    char temp[4097];
    ASSERT_EQ(psFileTempName(temp), 0);
    EXPECT_EQ(std::strncmp(temp, "/tmp/", 5), 0);
    EXPECT_EQ(psFileExists(temp), 0);
}

TEST_F(FileTest, BuildCurrentPathPrefixesBareNamesOnly) {
    char out[5000] = "untouched";
    char withSlash[] = "dir/file";
    EXPECT_EQ(psBuildCurrentPath(out, withSlash), 0);
    EXPECT_STREQ(out, "untouched");
    std::string oldPwd = std::getenv("PWD") != nullptr ? std::getenv("PWD") : "";
    setenv("PWD", "/some/where", 1);
    char bare[] = "  trace.out";
    psBuildCurrentPath(out, bare);
    EXPECT_STREQ(out, "/some/where/trace.out");
    unsetenv("PWD");
    char cwd[4097];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    psBuildCurrentPath(out, bare);
    EXPECT_EQ(std::string(out), std::string(cwd) + "/trace.out");
    if (!oldPwd.empty()) setenv("PWD", oldPwd.c_str(), 1);
}

TEST_F(FileTest, DescriptorsReportTranslatedFailures) {
    std::string name = path("data");
    int rc = -5;
    int fd = psFileOpen(name.data(), O_RDWR, 0, O_CREAT | O_EXCL, 0, 0600, &rc);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(psFileOpen(name.data(), O_RDWR, 0, O_CREAT | O_EXCL, 0, 0600, &rc), -1);
    char text[] = "hello";
    EXPECT_EQ(psFileWrite(fd, text, 5, &rc), 5);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(psFileClose(fd), 0);
    EXPECT_EQ(psFileRead(fd, text, 5, &rc), 0);
    EXPECT_EQ(rc, PISNP_RC_NOT_FOUND) << "a closed descriptor";
}

// Runs body in a child process; its exit status.
template <typename Body>
int inChild(Body body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST_F(FileTest, EnumerationListsMatchingEntriesAndEntersNoLinks) {
    std::string d = path("d");
    ASSERT_EQ(psMakePath((d + "/sub/deeper/").data()), 1);
    for (const char* name : {"d/a.txt", "d/b.log", "d/sub/c.txt", "d/sub/deeper/e.txt"})
        write(name, "");
    ASSERT_EQ(symlink("a.txt", (d + "/file-link").c_str()), 0);
    ASSERT_EQ(symlink("sub", (d + "/dir-link").c_str()), 0);
    ASSERT_EQ(symlink("..", (d + "/sub/up").c_str()), 0);
    char all[] = "*";
    LinkedList_t* list = nullptr;
    ASSERT_EQ(psFileEnumEntries(d.data(), all, 1, &list, kEnumFiles | kEnumDirs), 0);
    std::set<std::string> expected = {"a.txt:1",     "b.log:1",      "sub:0",
                                      "sub/c.txt:1", "sub/deeper:0", "sub/deeper/e.txt:1",
                                      "file-link:1", "dir-link:0",   "sub/up:0"};
    EXPECT_EQ(pisnp_test::listedEntries(list, d), expected);

    char txt[] = "?.txt";
    list = nullptr;
    ASSERT_EQ(psFileEnumEntries(d.data(), txt, 0, &list, kEnumFiles), 0);
    EXPECT_EQ(pisnp_test::listedEntries(list, d), std::set<std::string>{"a.txt:1"});

    EXPECT_EQ(psFileEnumEntries(d.data(), all, 0, &list, kEnumFiles), PISNP_RC_INVALID_ARG)
        << "the list given must be empty";

    ASSERT_EQ(symlink("/nonexistent", (d + "/sub/dangling").c_str()), 0);
    list = nullptr;
    EXPECT_EQ(psFileEnumEntries(d.data(), all, 1, &list, kEnumFiles), PISNP_RC_EXEC_FAILED);
    delete_LinkedList(list);
    unlink((d + "/sub/dangling").c_str());

    pisnp_test::sweepAllocationFailures(
        [&] {
            LinkedList_t* l = nullptr;
            int rc = psFileEnumEntries(d.data(), all, 1, &l, kEnumFiles | kEnumDirs);
            delete_LinkedList(l);
            return rc;
        },
        [](int rc, bool injected, pisnp_test::AllocTracker& tracker) {
            // A name the matcher had no memory for counts as not matching.
            EXPECT_TRUE(rc == 0 || (injected && rc == PISNP_RC_NO_MEMORY)) << rc;
            EXPECT_EQ(tracker.live(), 0u);
        });

    // A directory the caller may not read ends the listing.
    chmod((d + "/sub").c_str(), 0);
    chmod(dir_.c_str(), 0755);
    int child = inChild([&] {
        if (setuid(65534) != 0) return 77;
        LinkedList_t* l = nullptr;
        return psFileEnumEntries(d.data(), all, 1, &l, kEnumFiles) == PISNP_RC_INVALID_ARG ? 0 : 1;
    });
    chmod((d + "/sub").c_str(), 0755);
    if (child == 77) GTEST_SKIP() << "cannot drop privileges to read as another user";
    EXPECT_EQ(child, 0);
}

TEST_F(FileTest, ALockFileHasOneHolderAtATime) {
    std::string name = path("job.lck");
    class psFileLock held;
    ASSERT_EQ(held.createLockFile(name.data(), 0600), 1);
    EXPECT_EQ(held.created, 1);
    struct stat st;
    EXPECT_TRUE(stat(name.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
    {
        // Made by another process between the look and the creation: the same lock file.
        // (Before the lock is taken: closing another descriptor of the file would drop it.)
        pisnp::sys::Override late(
            &pisnp::sys::Table::lstat, +[](const char*, struct stat*) {
                errno = ENOENT;
                return -1;
            });
        class psFileLock raced;
        EXPECT_EQ(raced.createLockFile(name.data(), 0), 1);
        EXPECT_EQ(raced.created, 0);
    }

    ASSERT_EQ(held.lockExclusive(1), 1);
    EXPECT_EQ(held.isLocked(), 0) << "our own lock does not count";

    int child = inChild([&] {
        class psFileLock other;
        if (other.createLockFile(name.data(), 0) != 1 || other.created != 0) return 1;
        if (other.isLocked() != 1) return 2;
        if (other.lockExclusive(0) != 0) return 3;
        if (other.lastErrno != EAGAIN && other.lastErrno != EACCES) return 4;
        int holder = psFileLockTest(other.fd, F_WRLCK, 0, SEEK_SET, 0);
        return holder == getppid() ? 0 : 5;
    });
    EXPECT_EQ(child, 0);
    EXPECT_EQ(held.unlock(), 1);
    held.closeLockFile();
    EXPECT_TRUE(exists("job.lck")) << "the lock file stays";

    // Several processes take turns; each notes its stay in a file that only one may create.
    std::string inside = path("inside");
    pid_t pids[4];
    for (pid_t& pid : pids) {
        pid = fork();
        if (pid != 0) continue;
        class psFileLock lock;
        if (lock.createLockFile(name.data(), 0) != 1) _exit(1);
        for (int i = 0; i < 200; ++i) {
            if (lock.lockExclusive(1) != 1) _exit(2);
            int marker = open(inside.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
            if (marker < 0) _exit(3);
            close(marker);
            unlink(inside.c_str());
            if (lock.unlock() != 1) _exit(4);
        }
        _exit(0);
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
}

TEST_F(FileTest, WhatStandsInPlaceOfALockFileIsReplaced) {
    write("victim", "precious");
    std::string victim = path("victim"), name = path("planted.lck");
    ASSERT_EQ(symlink(victim.c_str(), name.c_str()), 0);
    class psFileLock lock;
    ASSERT_EQ(lock.createLockFile(name.data(), 0), 1);
    EXPECT_EQ(lock.created, 1);
    struct stat st;
    ASSERT_EQ(lstat(name.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    ASSERT_EQ(lock.lockExclusive(0), 1);
    EXPECT_EQ(read("victim"), "precious");
    lock.closeLockFile();

    std::string full = path("full.lck");
    mkdir(full.c_str(), 0755);
    write("full.lck/x", "");
    EXPECT_EQ(lock.createLockFile(full.data(), 0), 0) << "a directory with files stays";
    EXPECT_EQ(lock.lastErrno, ENOTEMPTY);

    pisnp::sys::Override fail(
        &pisnp::sys::Table::fcntlLock, +[](int, int, struct flock*) {
            errno = EDEADLK;
            return -1;
        });
    ASSERT_EQ(lock.createLockFile(name.data(), 0), 1);
    EXPECT_EQ(lock.lockExclusive(1), 0);
    EXPECT_EQ(errno, EDEADLK) << "the caller decides on errno whether to try again";
    EXPECT_EQ(lock.lastErrno, EDEADLK);
}

}  // namespace
