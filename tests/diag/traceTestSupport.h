// Helpers shared by the trace tests: a private directory, file reading, and a trace object that
// exists for the length of one test.
#pragma once

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "diag/traceInternal.h"
#include "pisnp/trace.h"
#include "support/messageSystem.h"

namespace trace_test {

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/trace_test.XXXXXX";
        char* made = mkdtemp(pattern);
        if (made != nullptr) path_ = made;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// The next-write offset recorded in a bounded trace file's header.
inline unsigned long headerOffset(const std::string& content) {
    return std::strtoul(content.substr(12, 12).c_str(), nullptr, 10);
}

inline void tidProc(char* banner, char* tidText) {
    trTIDProc(banner, tidText);
}

// Each test gets a fresh trace object and leaves no class switched on behind it.
class TraceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pisnp_test::startMessages()) << "no catalogs in " << pisnp_test::catalogDir();
        new_TraceObject(ctCLBackup, static_cast<unsigned long>(pthread_self()), tidProc);
    }
    void TearDown() override {
        trClose(0);
        delete_TraceObject();
        trace_detail::setClass(TR_ERROR, 0);
    }
    int begin(const std::string& path, int announce = 0) {
        std::string copy = path;
        return trBegin(copy.data(), announce);
    }
    int enable(const char* list, int quiet = 1) {
        std::string copy = list;
        return trEnable(copy.data(), quiet);
    }
    TempDir dir_;
};

// Captures what the process writes to its standard output while it lives.
class StdoutCapture {
  public:
    StdoutCapture() : file_(std::tmpfile()) {
        std::fflush(stdout);
        saved_ = dup(1);
        dup2(fileno(file_), 1);
    }
    ~StdoutCapture() {
        restore();
        std::fclose(file_);
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    std::string text() {
        restore();
        std::rewind(file_);
        std::string out;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
        return out;
    }

  private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
    }
    std::FILE* file_;
    int saved_ = -1;
};

}  // namespace trace_test
