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

constexpr int kSkipped = 77;

// Files of /etc; a name mapped to "/" becomes a directory.
using EtcFiles = std::map<std::string, std::string>;

// In the child: a private namespace with /etc replaced, lsb_release out of reach.
bool isolate(const EtcFiles& files, std::string* why) {
    if (unshare(CLONE_NEWNS) != 0)
        return *why = "no private mount namespace (unshare: " + std::string(std::strerror(errno)) +
                      ")",
               false;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/etc", "tmpfs", 0, "size=1m,mode=0755") != 0)
        return *why = "cannot mount a tmpfs over /etc", false;
    for (const auto& [name, content] : files) {
        std::string path = "/etc/" + name;
        if (content == "/")
            mkdir(path.c_str(), 0755);
        else
            std::ofstream(path) << content;
    }
    // The machine's own lsb_release would answer first; a file without execute bits takes its
    // place.
    struct stat st;
    if (stat("/usr/bin/lsb_release", &st) == 0) {
        std::ofstream("/etc/.none");
        if (mount("/etc/.none", "/usr/bin/lsb_release", nullptr, MS_BIND, nullptr) != 0)
            return *why = "cannot hide /usr/bin/lsb_release", false;
    }
    return true;
}

// The OS level a fresh record gets with these files, or "skipped: ..." where namespaces are
// not available.
std::string osLevelWith(const EtcFiles& files) {
    int out[2];
    if (pipe(out) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        std::string why;
        std::string answer;
        int status = 0;
        if (!isolate(files, &why)) {
            answer = "skipped: " + why;
            status = kSkipped;
        } else {
            dsSystemInfo_t record{};
            pisnp::os::fillSystemInfo(&record);
            answer = record.osLevel;
        }
        (void)!write(out[1], answer.data(), answer.size());
        _exit(status);
    }
    close(out[1]);
    std::string answer;
    char buf[256];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
        answer.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return answer;
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
        const char* level;
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
        {"cut to 63", {{"os-release", "PRETTY_NAME='" + std::string(100, 'x') + "'\n"}}, nullptr},
    };
    for (const Case& c : cases) {
        std::string got = osLevelWith(c.files);
        if (c.level != nullptr)
            EXPECT_EQ(got, c.level) << c.what;
        else
            EXPECT_EQ(got, "LNX:" + std::string(59, 'x')) << c.what;
    }
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
    EXPECT_EQ(split("ID='a=b'\n"), "ID|a=b");
    EXPECT_EQ(split("V=\"open\n"), "V|open") << "an unclosed quote is only dropped at the start";
    EXPECT_EQ(split("V=\"mixed'\n"), "V|mixed'");
    EXPECT_EQ(split("K=\n"), "K|");
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
