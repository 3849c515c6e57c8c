// Client directories against the environment and a real tree below /tmp: installation and key
// database directories, the library path, file-system borders and types, core dumps.
#include "pisnp/clientDirs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "diag/traceTestSupport.h"
#include "listedEntries.h"
#include "pisnp/resultCodes.h"
#include "pisnp/traceFlags.h"

namespace {

// Each test gets a directory of its own, and the environment variables the services read put
// back as they were.
class ClientDirs : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : kVariables)
            saved_.push_back(std::getenv(name) != nullptr ? std::getenv(name) : "\1");
        if (isDir(kBaDirDefault) || isDir(kApiDir)) GTEST_SKIP() << "a client is installed here";
    }
    void TearDown() override {
        for (size_t i = 0; i < saved_.size(); ++i)
            saved_[i] == "\1" ? unsetenv(kVariables[i])
                              : setenv(kVariables[i], saved_[i].c_str(), 1);
    }
    static bool isDir(const char* path) {
        struct stat st;
        return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
    }
    static constexpr const char* kVariables[] = {"ARC_DIR", "HOME", "LD_LIBRARY_PATH"};
    std::vector<std::string> saved_;
    trace_test::TempDir temp_;
    std::string dir_ = temp_.path();
};

TEST_F(ClientDirs, InstallationDirectoryLibraryPathAndSeparators) {
    char buf[1025];
    unsetenv("ARC_DIR");
    psGetBADir(buf, sizeof buf);
    EXPECT_STREQ(buf, kBaDirDefault);
    setenv("LD_LIBRARY_PATH", "/usr/lib:/opt/kestra/bkp/client/ba/bin/", 1);
    EXPECT_EQ(psCheckLibPath(), 1);
    EXPECT_STREQ(std::getenv("LD_LIBRARY_PATH"), "/usr/lib:/opt/kestra/bkp/client/ba/bin");
    setenv("LD_LIBRARY_PATH", "/opt/kestra/bkp/client/ba/bin64:/usr/lib", 1);
    EXPECT_EQ(psCheckLibPath(), 0);
    setenv("ARC_DIR", "/srv/client", 1);
    psGetBADir(buf, sizeof buf);
    EXPECT_STREQ(buf, "/srv/client/");

    char path[] = "//a///b/c//";
    psRemoveUnnecessaryDelimiters(path);
    EXPECT_STREQ(path, "/a/b/c/");
}

TEST_F(ClientDirs, KeyDatabaseDirectories) {
    std::ofstream(dir_ + "/cert.kdb") << "";
    setenv("ARC_DIR", dir_.c_str(), 1);
    char buf[64];
    char kdb[] = "cert.kdb", other[] = "other.kdb";
    EXPECT_EQ(psGetGlobalKeyDBDir(nullptr, buf, sizeof buf, kdb), 0);
    EXPECT_EQ(buf, dir_ + "/");
    EXPECT_EQ(psGetGlobalKeyDBDir(nullptr, buf, sizeof buf, other), PISNP_RC_NOT_FOUND);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string(sizeof buf, '\0'));
    unsetenv("ARC_DIR");
    EXPECT_EQ(psGetGlobalKeyDBDir(nullptr, buf, sizeof buf, nullptr), kNoClientDir);
    clientOptions opts{};
    std::snprintf(opts.configDir, sizeof opts.configDir, "%s", dir_.c_str());
    EXPECT_EQ(psGetGlobalKeyDBDir(&opts, buf, sizeof buf, other), PISNP_RC_NOT_FOUND);
    std::string certDir = dir_ + "/certs";
    mkdir(certDir.c_str(), 0755);
    TEST_C2S_CERTDIR = {1, 0, certDir.data()};
    EXPECT_EQ(psGetGlobalKeyDBDir(nullptr, buf, sizeof buf, nullptr), 0) << "the only candidate";
    EXPECT_EQ(buf, certDir + "/");
    EXPECT_EQ(psGetGlobalKeyDBDir(nullptr, buf, sizeof buf, kdb), PISNP_RC_NOT_FOUND);
    EXPECT_EQ(psGetGlobalKeyDBDir(nullptr, buf, 8, kdb), PISNP_RC_INVALID_ARG);
    TEST_C2S_CERTDIR = {};

    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(psGetLocalKeyDBDir(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "/home/u/QRA/Harbormind/certs/");
    TEST_C2C_DISABLE.on = 1;
    EXPECT_EQ(psGetLocalKeyDBDir(buf, sizeof buf), -1);
    EXPECT_STREQ(buf, "");
    TEST_C2C_DISABLE = {};
}

TEST_F(ClientDirs, BordersFileSystemTypesAndProcesses) {
    std::string link = dir_ + "/proc-link", same = dir_ + "/same-link";
    mkdir((dir_ + "/sub").c_str(), 0755);
    ASSERT_EQ(symlink("/proc", link.c_str()), 0);
    ASSERT_EQ(symlink(dir_.c_str(), same.c_str()), 0);
    std::string across = link + "/self/status", within = same + "/sub/x";
    EXPECT_EQ(psDoesPathCrossFSBorder(across.data(), dir_.data()), 1);
    EXPECT_EQ(psDoesPathCrossFSBorder(within.data(), dir_.data()), 0);
    EXPECT_EQ(psDoesPathCrossFSBorder(across.data(), link.data()), 0) << "stops at stopDir";

    int equal = -1;
    char tmp[] = "/tmp", proc[] = "/proc", missing[] = "/no/such/dir";
    EXPECT_EQ(psAreFSTypesEqual(tmp, proc, &equal), 0);
    EXPECT_EQ(equal, 0);
    EXPECT_EQ(psAreFSTypesEqual(tmp, missing, &equal), -1);

    EXPECT_TRUE(psIsProcessRunning(getpid()));
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    EXPECT_FALSE(psIsProcessRunning(gone));
}

TEST_F(ClientDirs, CoreDumpsOfTheWorkingDirectory) {
    char cwd[4097];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    for (const char* name : {"core.1234", "core.77", "core.1234.gz", "core.abc", "core"})
        std::ofstream(std::string(name)) << "";
    auto find = [dir = dir_] {
        LinkedList_t* list = nullptr;
        psFindDump(&list);
        return pisnp_test::listedEntries(list, dir);
    };
    EXPECT_EQ(find(), (std::set<std::string>{"core.1234:1", "core.77:1"}));
    std::string exclude = "*7";
    TEST_EXCLUDECOREPATTERN = {1, 0, exclude.data()};
    EXPECT_EQ(find(), std::set<std::string>{"core.1234:1"});
    TEST_EXCLUDECOREPATTERN = {};
    unlink("core.1234");
    unlink("core.77");
    EXPECT_EQ(find(), std::set<std::string>{"core:1"}) << "no numbered dump: the plain one";
    TEST_CORE_IGNORE.on = 1;
    LinkedList_t* untouched = nullptr;
    psFindDump(&untouched);
    EXPECT_EQ(untouched, nullptr);
    TEST_CORE_IGNORE = {};
    ASSERT_EQ(chdir(cwd), 0);
}

}  // namespace
