#include "pisnp/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

TEST(FileServices, BuildCurrentPathPrefixesBareNamesOnly) {
    char out[5000] = "untouched";
    char withSlash[] = "dir/file";
    EXPECT_EQ(psBuildCurrentPath(out, withSlash), 0);
    EXPECT_STREQ(out, "untouched");

    std::string oldPwd = std::getenv("PWD") ? std::getenv("PWD") : "";
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

TEST(FileServices, SymLinksAreRecognisedReadAndDeleted) {
    char dir[] = "/tmp/pisnp-fs-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string file = std::string(dir) + "/f", link = std::string(dir) + "/l";
    FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);

    char target[4097] = "";
    EXPECT_EQ(psIsFileSymLink(link.data(), target), 0);
    EXPECT_EQ(file, target);
    EXPECT_EQ(psIsFileSymLink(file.data(), nullptr), 104);
    std::string missing = std::string(dir) + "/missing";
    EXPECT_EQ(psIsFileSymLink(missing.data(), nullptr), 104);

    EXPECT_EQ(psFileExists(file.c_str()), 1);
    EXPECT_EQ(psFileExists(L"/definitely/not/here"), 0);
    EXPECT_EQ(psFileExists(static_cast<const char*>(nullptr)), 0);
    EXPECT_EQ(psFileExists(""), 0);

    EXPECT_EQ(psDeleteSymLink(link.data()), 0);
    EXPECT_EQ(psIsFileSymLink(link.data(), nullptr), 104);
    EXPECT_EQ(psDeleteSymLink(link.data()), 0) << "a link already gone is not an error";
    EXPECT_EQ(psFileExists(file.c_str()), 1) << "deleting the link keeps its target";
    unlink(file.c_str());
    rmdir(dir);
}

}  // namespace
