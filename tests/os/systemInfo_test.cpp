// The system record against release files chosen by the test: each form is laid out in a
// tmpfs over /etc in a private mount namespace of a child process, so the machine's own files
// are never read or touched. Also release lines, accounts, aligned blocks, executable paths.
#include "os/systemInfo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "base/sysCalls.h"
#include "mem/checkedAlloc.h"

namespace {

// Files of /etc; a name mapped to "/" becomes a directory.
using EtcFiles = std::map<std::string, std::string>;

// In the child: a private namespace with /etc replaced and lsb_release out of reach; the
// reason when that cannot be had.
std::string isolate(const EtcFiles& files) {
    if (unshare(CLONE_NEWNS) != 0)
        return "no private mount namespace: " + std::string(std::strerror(errno));
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/etc", "tmpfs", 0, "size=1m,mode=0755") != 0)
        return "cannot mount a tmpfs over /etc";
    for (const auto& [name, content] : files)
        content == "/" ? (void)mkdir(("/etc/" + name).c_str(), 0755)
                       : (void)(std::ofstream("/etc/" + name) << content);
    // The machine's own lsb_release would answer first: a file without execute bits hides it.
    std::ofstream("/etc/.none");
    if (access("/usr/bin/lsb_release", F_OK) == 0 &&
        mount("/etc/.none", "/usr/bin/lsb_release", nullptr, MS_BIND, nullptr) != 0)
        return "cannot hide /usr/bin/lsb_release";
    return "";
}

// The OS level a fresh record gets with these files, or "skipped: ..." where namespaces are
// not available.
std::string osLevelWith(const EtcFiles& files) {
    int out[2];
    if (pipe(out) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        std::string answer = isolate(files);
        dsSystemInfo_t record{};
        if (answer.empty()) pisnp::os::fillSystemInfo(&record);
        answer = answer.empty() ? record.osLevel : "skipped: " + answer;
        _exit(write(out[1], answer.data(), answer.size()) < 0);
    }
    close(out[1]);
    char buf[256];
    ssize_t n = read(out[0], buf, sizeof buf);
    close(out[0]);
    waitpid(pid, nullptr, 0);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

TEST(SystemInfo, DescriptionFromEachKindOfReleaseFile) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a private mount namespace";
    const std::string pretty =
        "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 "
        "(bookworm)\"\nVERSION_ID=\"12\"\n";
    std::string level = osLevelWith({{"os-release", pretty}});
    if (level.rfind("skipped: ", 0) == 0) GTEST_SKIP() << level;
    EXPECT_EQ(level, "LNX:Debian GNU/Linux 12 (bookworm)");

    struct Case {
        const char* what;
        EtcFiles files;
        std::string level;
    } cases[] = {
        {"NAME and VERSION_ID", {{"os-release", "NAME=Fedora\nVERSION_ID=39\n"}}, "LNX:Fedora 39"},
        {"with a codename",
         {{"os-release", "NAME=\"Ubuntu\"\nVERSION_ID=\"22.04\"\nVERSION_CODENAME=jammy\n"}},
         "LNX:Ubuntu 22.04 jammy"},
        {"VERSION before VERSION_ID",
         {{"os-release", "VERSION_ID=\"15.5\"\nNAME=SLES\nVERSION=\"15-SP5\"\nNAMEX=no\n"}},
         "LNX:SLES 15-SP5"},
        {"no NAME: the first line",
         {{"os-release", "  ID=\"alpine\"\nVERSION_ID=3.19\n"}},
         "LNX:ID="},
        {"system-release first",
         {{"system-release", "Red Hat Enterprise Linux release 9.2 (Plow)\nmore\n"},
          {"os-release", pretty}},
         "LNX:Red Hat Enterprise Linux release 9.2 (Plow)"},
        {"issue",
         {{"issue", "\n\tWelcome to SUSE Linux 15 - Kernel \\r (\\l).\n"}},
         "LNX:SUSE Linux 15 - Kernel "},
        {"nothing", {}, "LNX:Linux"},
        {"unreadable issue", {{"issue", "/"}}, "LNX:Linux"},
        {"cut to 63",
         {{"os-release", "PRETTY_NAME='" + std::string(100, 'x') + "'\n"}},
         "LNX:" + std::string(59, 'x')},
    };
    for (const Case& c : cases) EXPECT_EQ(osLevelWith(c.files), c.level) << c.what;
}

FILE* lsbAnswer(const char*, const char*) {
    static char text[] = "\"Example OS 7.1\"\n";
    return fmemopen(text, std::strlen(text), "r");
}

TEST(SystemInfo, LsbReleaseAnswersFirst) {
    pisnp::sys::Override access(
        &pisnp::sys::Table::access, +[](const char*, int) { return 0; });
    pisnp::sys::Override popen(&pisnp::sys::Table::popen, &lsbAnswer);
    pisnp::sys::Override pclose(
        &pisnp::sys::Table::pclose, +[](FILE* f) { return std::fclose(f); });
    dsSystemInfo_t record{};
    record.argc = 3;
    pisnp::os::fillSystemInfo(&record);
    EXPECT_STREQ(record.osLevel, "LNX:Example OS 7.1");
    EXPECT_EQ(record.argc, 3) << "the arguments are not the filler's";
    EXPECT_STREQ(record.platform, "PPC64");
    EXPECT_EQ(dsGetSystemInfo(), dsGetSystemInfo());
    EXPECT_EQ(std::strncmp(dsGetSystemInfo()->osLevel, "LNX:", 4), 0);
}

TEST(SystemInfo, ReleaseLinesSplitAtTheFirstEquals) {
    auto split = [](std::string line) {
        char* key;
        char* value;
        unsigned long keyLen, valueLen;
        parseReleaseLine(line.data(), key, keyLen, value, valueLen);
        if (key == nullptr) return std::string(value == nullptr && valueLen == 0 ? "<none>" : "?");
        return std::string(key, keyLen) + "|" + std::string(value, valueLen);
    };
    EXPECT_EQ(split("  NAME=\"Debian GNU/Linux\"  \r\n"), "NAME|Debian GNU/Linux");
    EXPECT_EQ(split("V=\"mixed'\n"), "V|mixed'") << "only the quote that opened closes";
    EXPECT_EQ(split("no equals here\n"), "<none>");
    EXPECT_EQ(split("=value\n"), "<none>");
}

TEST(UserInfo, AccountsByIdAndNameAndUnknownOnes) {
    char name[] = "root";
    osUserInfo_t* byName = psGetUserInfo(name);
    osUserInfo_t* byId = psGetUserInfo(0u);
    ASSERT_TRUE(byName != nullptr && byId != nullptr);
    EXPECT_STREQ(byId->userName, "root");
    EXPECT_STREQ(byName->homeDir, byId->homeDir);
    psFreeUserInfo(byName);
    psFreeUserInfo(byId);
    char unknown[] = "no-such-user-here";
    EXPECT_EQ(psGetUserInfo(unknown), nullptr);
    EXPECT_EQ(psGetUserInfo(4000000000u), nullptr);
    EXPECT_EQ(ps_aligned_malloc(100, 3), nullptr) << "not a power of two";
}

TEST(ExecPath, DirectoryOfAProgramByPathOrAlongPath) {
    char dir[] = "/tmp/pisnp-exec-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string tool = std::string(dir) + "/tool", plain = std::string(dir) + "/plain";
    std::ofstream(tool) << "#!/bin/sh\n";
    std::ofstream(plain) << "data\n";
    chmod(tool.c_str(), 0755);
    auto find = [](std::string program) {
        char* found = nullptr;
        std::string answer = psGetExecPath(program.data(), &found) == 0 ? found : "-1";
        ARC_FREE(found);
        return answer;
    };
    std::string expected = std::string(dir) + "/";
    EXPECT_EQ(find(tool), expected);
    EXPECT_EQ(find(plain), "-1") << "not executable";
    std::string oldPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    setenv("PATH", ("/no/such/dir:" + std::string(dir) + ":/usr/bin").c_str(), 1);
    EXPECT_EQ(find("tool"), expected);
    setenv("PATH", ("/usr/bin:" + std::string(dir)).c_str(), 1);
    EXPECT_EQ(find("tool"), expected) << "the last entry, checked after the walk";
    EXPECT_EQ(find("plain"), "-1");
    setenv("PATH", oldPath.c_str(), 1);
    unlink(tool.c_str());
    unlink(plain.c_str());
    rmdir(dir);
}

}  // namespace
