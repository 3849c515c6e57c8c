// Helpers of the message system's tests: catalogs written for one test, a message system started
// on them with every output captured, and a locale for the length of a test.
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pisnp/alloc.h"
#include "pisnp/messages.h"
#include "support/messageSystem.h"

namespace nls_test {

// What the message object sent to its outputs, as (severity, text).
struct Output {
    int sev;
    std::string text;
};
inline std::vector<Output>& outputs() {
    static std::vector<Output> seen;
    return seen;
}
template <int Sev>
void sink(char* text) {
    outputs().push_back({Sev, text});
}
inline void (*gSinks[9])(char*) = {sink<0>, sink<1>, sink<2>, sink<3>, sink<4>,
                                   sink<5>, sink<6>, sink<7>, sink<8>};

// A client directory of the test's own: language folders with catalogs written by gencat from
// gencat source lines ("<number> <entry>", escapes as gencat reads them).
class ClientDir {
  public:
    ClientDir() {
        char pattern[] = "/tmp/nls_test.XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~ClientDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    void catalog(const std::string& lang, const std::string& lines) {
        std::filesystem::create_directories(path_ + "/" + lang);
        std::string source = path_ + "/" + lang + ".msg";
        std::ofstream(source) << "$set 1\n" << lines;
        std::string cmd = "LC_ALL=C.UTF-8 gencat " + path_ + "/" + lang + "/arcclientV3.cat " +
                          source + " 2>/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }

  private:
    std::string path_;
};

// Sets LANG (null: unsets it) and the locale for one test, and puts the C locale back
// afterwards. available() is false when the machine lacks the locale.
class LocaleScope {
  public:
    explicit LocaleScope(const char* lang) {
        if (const char* old = std::getenv("LANG")) saved_ = old, hadLang_ = true;
        if (lang != nullptr) {
            setenv("LANG", lang, 1);
            available_ = std::setlocale(LC_ALL, lang) != nullptr;
        } else {
            unsetenv("LANG");
        }
        if (!available_) std::setlocale(LC_ALL, "C");
        arcLocale[0] = '\0';
    }
    ~LocaleScope() {
        if (hadLang_)
            setenv("LANG", saved_.c_str(), 1);
        else
            unsetenv("LANG");
        std::setlocale(LC_ALL, "C");
        arcLocale[0] = '\0';
    }
    bool available() const { return available_; }
    // Whether the C library can convert the catalogs' UTF-8 into the locale's code set: a cross
    // build's target library under emulation comes without the converter modules.
    bool converts() const {
        iconv_t cd = iconv_open(nl_langinfo(CODESET), "UTF-8");
        if (cd == reinterpret_cast<iconv_t>(-1)) return false;
        iconv_close(cd);
        return true;
    }

  private:
    std::string saved_;
    bool hadLang_ = false;
    bool available_ = true;
};

#define NLS_NEED_LOCALE(scope, name) \
    if (!(scope).available()) GTEST_SKIP() << "locale " << (name) << " is not installed"
#define NLS_NEED_CONVERTER(scope, name)                                                     \
    if (!(scope).converts())                                                                \
    GTEST_SKIP() << "the C library has no converter from UTF-8 to the code set of " << (name)

// Starts the message system on dir with captured outputs; the result of nlinit.
inline int start(const std::string& dir, int cacheSize = 10, cliType_t type = ctCLBackup,
                 const char* repository = "arcclientV3.cat") {
    outputs().clear();
    newNlsGlobalObject(gSinks, 1);
    std::string d = dir, r = repository;
    nlsReturnInfo_t info;
    return nlinit(r.data(), cacheSize, d.data(), type, 0, 0, 0, &info, nullptr);
}

// Stops it and releases everything it holds.
inline void stop() {
    nlterm();
    destroyNlsGlobalObject();
}

// Composes a message into a std::string (empty when there is none).
template <typename... Args>
std::string message(int msgNum, Args... args) {
    char* out = nullptr;
    nlMessage(out, msgNum, args...);
    std::string text = out != nullptr ? out : "";
    if (out != nullptr) arcFree(out, "test", 0);
    return text;
}

}  // namespace nls_test
