// The fake volume manager of tests/fakelvm for in-process tests, without a namespace: the fakes
// are found through PATH by providers whose command directory is empty, and keep their snapshot
// nodes in a temporary directory. Snapshot names are checked against the real /dev, so tests use
// a volume group that no machine has.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pisnp/snapshotProvider.h"

namespace snaptest {

inline constexpr char kTestVg[] = "pisnp_unit_test_vg";
inline constexpr char kTestSource[] = "/dev/pisnp_unit_test_vg/lv_home";

// Empties a provider's command directory, so its commands reach the fakes on PATH rather than
// the machine's volume manager. Every test that lets a provider run a command calls this first.
struct CommandDirAccess : DSnapshotProvider {
    static constexpr auto dir = &CommandDirAccess::commandDir;
};
inline void useFakeCommands(DssSnapshotProvider* provider) {
    (static_cast<DSnapshotProvider*>(provider)->*CommandDirAccess::dir)[0] = '\0';
}

class FakeLvm {
  public:
    FakeLvm() {
        namespace fs = std::filesystem;
        char pattern[] = "/tmp/pisnp_fakelvm_XXXXXX";
        root_ = mkdtemp(pattern);
        fs::create_directories(root_ + "/dev/" + kTestVg);
        savedPath_ = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin";
        std::string fakes = fs::path(__FILE__).parent_path().parent_path() / "fakelvm";
        setenv("PATH", (fakes + ":" + savedPath_).c_str(), 1);
        setenv("FAKELVM_DEV", (root_ + "/dev").c_str(), 1);
        setenv("FAKELVM_LOG", logPath().c_str(), 1);
        setenv("FAKELVM_CONTROL", (root_ + "/control").c_str(), 1);
        answer("");
    }
    ~FakeLvm() {
        setenv("PATH", savedPath_.c_str(), 1);
        unsetenv("FAKELVM_DEV");
        unsetenv("FAKELVM_LOG");
        unsetenv("FAKELVM_CONTROL");
        std::filesystem::remove_all(root_);
    }
    FakeLvm(const FakeLvm&) = delete;
    FakeLvm& operator=(const FakeLvm&) = delete;

    // Shell assignments read by the fakes on every call, e.g. "FAKELVM_LVCREATE_RC=5".
    void answer(const std::string& assignments) {
        std::ofstream(root_ + "/control") << assignments << "\n";
    }
    // The fakes' command lines so far, one per call.
    std::vector<std::string> calls() const {
        std::vector<std::string> lines;
        std::ifstream in(logPath());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    void clearCalls() { std::ofstream(logPath(), std::ios::trunc); }
    // Where the group's snapshot nodes are.
    std::string group() const { return root_ + "/dev/" + kTestVg; }

  private:
    std::string logPath() const { return root_ + "/log"; }

    std::string root_;
    std::string savedPath_;
};

}  // namespace snaptest
