#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ownership.h"

namespace {

using snaphost::LockState;
using snaphost::LogicalVolume;
using snaphost::RunId;
using snaphost::RunState;

const RunId kSelf{"db1", "8c1f0b6e-1111-2222-3333-444455556666", "4026531836", 4242, 123456};

// This host as a probe sees it: the runs' locks, and the live processes (pid -> start time).
snaphost::RunProbe host(LockState lock, std::map<long, unsigned long long> alive = {}) {
    snaphost::RunProbe probe;
    probe.lock = [lock](const RunId&) { return lock; };
    probe.startTime = [alive](long pid) -> std::optional<unsigned long long> {
        auto it = alive.find(pid);
        if (it == alive.end()) return std::nullopt;
        return it->second;
    };
    return probe;
}

TEST(SnaphostOwnership, ATagNamesItsRunAndHoldsOnlyWhatTheVolumeManagerAllows) {
    const RunId runs[] = {kSelf, {"h", "b", "n", 1, 0},
                          {"a.b-c_d", "x", "4026532198", 999999, 18446744073709551615ull}};
    for (const RunId& run : runs) {
        std::string tag = snaphost::tagOf(run);
        EXPECT_EQ(tag.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                        "0123456789_+.-/=!:&#"),
                  std::string::npos)
            << tag;
        auto back = snaphost::runOf({"other", tag});
        ASSERT_TRUE(back) << tag;
        EXPECT_TRUE(back->host == run.host && back->boot == run.boot && back->ns == run.ns &&
                    back->pid == run.pid && back->start == run.start);
    }
    for (const char* tag : {"snaphost-run:host=h:boot=b:ns=n:pid=1",
                            "snaphost-run:host=h:boot=b:pid=1:start=1",
                            "snaphost-run:host=h:boot=b:ns=n:pid=x:start=1",
                            "snaphost-run:host=h:boot=b:ns=n:pid=0:start=1",
                            "run:host=h:boot=b:ns=n:pid=1:start=1"})
        EXPECT_FALSE(snaphost::runOf({tag})) << tag;
}

TEST(SnaphostOwnership, ARunLivesWhileItHoldsItsLockOrElseAsTheSameProcess) {
    RunId run = kSelf;
    run.pid = 77;
    run.start = 500;
    // Its lock decides, whatever the process table says (an emulator may misreport the start).
    EXPECT_EQ(snaphost::stateOf(run, kSelf, host(LockState::Held)), RunState::Alive);
    EXPECT_EQ(snaphost::stateOf(run, kSelf, host(LockState::Free, {{77, 500}})), RunState::Gone);
    // Without a lock file, the process: the same number and start, not a reused number.
    EXPECT_EQ(snaphost::stateOf(run, kSelf, host(LockState::Absent, {{77, 500}})), RunState::Alive);
    EXPECT_EQ(snaphost::stateOf(run, kSelf, host(LockState::Absent, {{77, 501}})), RunState::Gone);
    EXPECT_EQ(snaphost::stateOf(run, kSelf, host(LockState::Absent)), RunState::Gone);
    RunId otherBoot = run;
    otherBoot.boot = "before-the-reboot";
    EXPECT_EQ(snaphost::stateOf(otherBoot, kSelf, host(LockState::Held)), RunState::Gone);
    // What cannot be checked from here is never taken for gone.
    RunId otherHost = run;
    otherHost.host = "db2";
    EXPECT_EQ(snaphost::stateOf(otherHost, kSelf, host(LockState::Free)), RunState::OtherHost);
    RunId otherNamespace = run;
    otherNamespace.ns = "4026532198";
    EXPECT_EQ(snaphost::stateOf(otherNamespace, kSelf, host(LockState::Free)),
              RunState::OtherHost);
}

TEST(SnaphostOwnership, OnlyTaggedSnapshotsOfTheOriginAreEverConsidered) {
    RunId gone = kSelf;
    gone.pid = 1;
    std::string tag = snaphost::tagOf(gone);
    auto lv = [](const char* name, const char* attr, const char* origin,
                 std::vector<std::string> tags) {
        LogicalVolume v;
        v.group = "vg01";
        v.name = name;
        v.attr = attr;
        v.origin = origin;
        v.tags = std::move(tags);
        return v;
    };
    std::vector<LogicalVolume> volumes = {
        lv("home", "owi-a-s---", "", {tag}),           // an origin, even if someone tagged it
        lv("handmade", "swi-a-s---", "home", {}),       // no tag
        lv("other", "swi-a-s---", "home", {"backup"}),  // another tool's tag
        lv("left", "swi-I-s---", "home", {tag}),
        lv("db-left", "swi-a-s---", "db", {tag}),
    };
    auto found = snaphost::taggedSnapshots(volumes, "home", kSelf, host(LockState::Free));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].volume.name, "left");
    EXPECT_EQ(found[0].state, RunState::Gone);
    EXPECT_EQ(snaphost::taggedSnapshots(volumes, "", kSelf, host(LockState::Free)).size(), 2u);
}

}  // namespace
