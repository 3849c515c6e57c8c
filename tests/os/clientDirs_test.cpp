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

#include "pisnp/files.h"
#include "pisnp/resultCodes.h"
#include "pisnp/traceFlags.h"

namespace {

// Sets (or with null unsets) an environment variable for the length of a scope.
class Env {
  public:
    Env(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    }
    ~Env() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

  private:
    const char* name_;
    bool had_;
    std::string old_;
};

class ClientDirs : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/pisnp-dirs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        if (isDir(kBaDirDefault) || isDir(kApiDir)) GTEST_SKIP() << "a client is installed here";
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    static bool isDir(const char* path) {
        struct stat st;
        return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
    }
    std::string dir_;
};

TEST_F(ClientDirs, InstallationDirectoryLibraryPathAndSeparators) {
    char buf[1025];
    {
        Env arc("ARC_DIR", nullptr);
        psGetBADir(buf, sizeof buf);
        EXPECT_STREQ(buf, kBaDirDefault);
        Env lib("LD_LIBRARY_PATH", "/usr/lib:/opt/kestra/bkp/client/ba/bin/");
        EXPECT_EQ(psCheckLibPath(), 1);
        EXPECT_STREQ(std::getenv("LD_LIBRARY_PATH"), "/usr/lib:/opt/kestra/bkp/client/ba/bin");
        Env longer("LD_LIBRARY_PATH", "/opt/kestra/bkp/client/ba/bin64:/usr/lib");
        EXPECT_EQ(psCheckLibPath(), 0);
    }
    Env arc("ARC_DIR", "/srv/client");
    wchar_t wide[64];
    psGetBADir(wide, 64);
    EXPECT_STREQ(wide, L"/srv/client/");

    char path[] = "//a///b/c//";
    psRemoveUnnecessaryDelimiters(path);
    EXPECT_STREQ(path, "/a/b/c/");
    wchar_t wpath[] = L"a/b";
    psRemoveUnnecessaryDelimiters(wpath);
    EXPECT_STREQ(wpath, L"a/b");
}

TEST_F(ClientDirs, KeyDatabaseDirectories) {
    std::ofstream(dir_ + "/cert.kdb") << "";
    Env arc("ARC_DIR", dir_.c_str());
    char buf[64];
    char kdb[] = "cert.kdb", other[] = "other.kdb";
    EXPECT_EQ(psGetGlobalKeyDBDir(nullptr, buf, sizeof buf, kdb), 0);
    EXPECT_EQ(buf, dir_ + "/");
    EXPECT_EQ(psGetGlobalKeyDBDir(nullptr, buf, sizeof buf, other), PISNP_RC_NOT_FOUND);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string(sizeof buf, '\0'));
    {
        Env none("ARC_DIR", nullptr);
        EXPECT_EQ(psGetGlobalKeyDBDir(nullptr, buf, sizeof buf, nullptr), kNoClientDir);
        clientOptions opts{};
        std::snprintf(opts.configDir, sizeof opts.configDir, "%s", dir_.c_str());
        EXPECT_EQ(psGetGlobalKeyDBDir(&opts, buf, sizeof buf, other), PISNP_RC_NOT_FOUND);
    }
    std::string certDir = dir_ + "/certs";
    mkdir(certDir.c_str(), 0755);
    TEST_C2S_CERTDIR = {1, 0, certDir.data()};
    EXPECT_EQ(psGetGlobalKeyDBDir(nullptr, buf, sizeof buf, nullptr), 0) << "the only candidate";
    EXPECT_EQ(buf, certDir + "/");
    EXPECT_EQ(psGetGlobalKeyDBDir(nullptr, buf, sizeof buf, kdb), PISNP_RC_NOT_FOUND);
    EXPECT_EQ(psGetGlobalKeyDBDir(nullptr, buf, 8, kdb), PISNP_RC_INVALID_ARG);
    TEST_C2S_CERTDIR = {};

    Env home("HOME", "/home/u");
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
    EXPECT_EQ(psAreFSTypesEqual(tmp, dir_.data(), &equal), 0);
    EXPECT_EQ(equal, 1);
    EXPECT_EQ(psAreFSTypesEqual(tmp, missing, &equal), -1);

    EXPECT_TRUE(psIsProcessRunning(getpid()));
    EXPECT_TRUE(psIsProcessRunning(1)) << "another user's process counts";
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    EXPECT_FALSE(psIsProcessRunning(gone));
}

std::set<std::string> names(LinkedList_t* list) {
    std::set<std::string> found;
    for (llNode_t* n = list != nullptr ? list->GetNextItem(list, nullptr) : nullptr; n != nullptr;
         n = list->GetNextItem(list, n)) {
        std::string path = static_cast<psEnumEntry_t*>(list->GetData(list, n))->path;
        found.insert(path.substr(path.rfind('/') + 1));
    }
    delete_LinkedList(list);
    return found;
}

TEST_F(ClientDirs, CoreDumpsOfTheWorkingDirectory) {
    char cwd[4097];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    for (const char* name : {"core.1234", "core.77", "core.1234.gz", "core.abc", "core"})
        std::ofstream(std::string(name)) << "";
    auto find = [] {
        LinkedList_t* list = nullptr;
        psFindDump(&list);
        return names(list);
    };
    EXPECT_EQ(find(), (std::set<std::string>{"core.1234", "core.77"}));
    std::string exclude = "*7";
    TEST_EXCLUDECOREPATTERN = {1, 0, exclude.data()};
    EXPECT_EQ(find(), std::set<std::string>{"core.1234"});
    TEST_EXCLUDECOREPATTERN = {};
    unlink("core.1234");
    unlink("core.77");
    EXPECT_EQ(find(), std::set<std::string>{"core"}) << "no numbered dump: the plain one";
    TEST_CORE_IGNORE.on = 1;
    LinkedList_t* untouched = reinterpret_cast<LinkedList_t*>(&exclude);
    psFindDump(&untouched);
    EXPECT_EQ(untouched, reinterpret_cast<LinkedList_t*>(&exclude));
    TEST_CORE_IGNORE = {};
    ASSERT_EQ(chdir(cwd), 0);
}

}  // namespace
