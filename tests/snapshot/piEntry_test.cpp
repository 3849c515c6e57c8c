// The plug-in entry points in process, where the host test cannot reach: allocation failures,
// start-ups that fail and are tried again, and the registry's contents.
#include "pisnp/plugin.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <tuple>

#include "fakeHost.h"
#include "pisnp/messages.h"
#include "pisnp/snapshotProvider.h"
#include "pisnp/snapshotRegistry.h"
#include "support/allocTracker.h"
#include "support/fakeClock.h"
#include "support/messageSystem.h"

namespace {

using pisnp_test::AllocTracker;
using snaptest::FakeHost;

class PluginEntry : public ::testing::Test {
  protected:
    void SetUp() override {
        piAppInfo_t info{};
        ASSERT_EQ(piQueryApp(nullptr, &info), 0);
        std::snprintf(host.options().clientDir, sizeof host.options().clientDir, "%s",
                      pisnp_test::catalogDir().c_str());
    }
    void TearDown() override {
        piTerminate();
        std::memset(&gSnapAttrib, 0, sizeof gSnapAttrib);
    }
    int16_t start() {
        piSnapshotInitIn_t in{};
        in.hostServices = host.services();
        return piSnapshotInit(&in, &out);
    }
    // Started fully: the start-up provider is registered under the provider handle.
    static bool startedFully() {
        DssSnapshotProvider* provider = DssGlobalData::gdGetSnapshotInstanceByListLocation(0);
        return provider != nullptr &&
               provider->getSnapshotID() == DssGlobalData::gdGetSnapProviderHandle() &&
               DssGlobalData::gdGetSnapshotInstanceByListLocation(1) == nullptr;
    }
    static bool nothingLeft() { return DssGlobalData::gdGetSnapProviderHandle() == 0xFFFFFFFFu; }

    FakeHost host;
    piSnapshotInitOut_t out{};
    pisnp_test::FakeClock clock;  // tear-down pauses for a status callback
};

TEST_F(PluginEntry, RegistersOneProviderUnderTheProviderHandle) {
    ASSERT_EQ(start(), 0);
    EXPECT_EQ(sharedUtilP, host.services());
    EXPECT_TRUE(startedFully());
    EXPECT_EQ(DssGlobalData::gdGetNextSnapshotID(), 2u) << "the host's first snapshot gets 2";
    EXPECT_EQ(piTerminate(), 0);
    EXPECT_TRUE(nothingLeft());
    EXPECT_EQ(sharedUtilP, host.services()) << "the host object is kept after tear-down";
}

// A start-up that fails leaves nothing behind, so the next one starts fully.
TEST_F(PluginEntry, FailedStartUpIsUndoneAndCanBeTriedAgain) {
    std::memset(&gSnapAttrib, 0, sizeof gSnapAttrib);  // as before piQueryApp
    EXPECT_EQ(start(), 24);
    EXPECT_TRUE(nothingLeft());
    piAppInfo_t info{};
    ASSERT_EQ(piQueryApp(nullptr, &info), 0);
    host.services()->options = nullptr;  // no message repository
    EXPECT_EQ(start(), 610);
    EXPECT_TRUE(nothingLeft());
    host.services()->options = &host.options();
    EXPECT_EQ(start(), 0);
    EXPECT_TRUE(startedFully());

    piSnapshotInitIn_t in{};
    EXPECT_EQ(piSnapshotInit(nullptr, &out), 109);
    EXPECT_EQ(piSnapshotInit(&in, nullptr), 109);
    EXPECT_EQ(piQueryApp(nullptr, nullptr), 109);
}

TEST_F(PluginEntry, RunningOutOfMemoryAtStartUp) {
    // The converters are opened once per process; the sweep starts after that.
    ASSERT_EQ(start(), 0);
    piTerminate();
    int failed = 0, noProvider = 0, messagesDegraded = 0;
    pisnp_test::sweepAllocationFailures(
        [&] {
            int rc = start();
            bool full = startedFully();
            bool none = nothingLeft();
            // Tear-down must work from whatever state the failure left.
            EXPECT_EQ(piTerminate(), 0);
            destroyNlsGlobalObject();  // what the message object keeps until its next start
            return std::make_tuple(rc, full, none);
        },
        [&](std::tuple<int, bool, bool> r, bool injected, AllocTracker& tracker) {
            auto [rc, full, none] = r;
            if (rc != 0) {
                ++failed;
                EXPECT_TRUE(rc == 102 || rc == 1) << rc;
                EXPECT_TRUE(none) << "a failed start-up leaves nothing";
            } else if (!full) {
                ++noProvider;  // the library runs on without a start-up provider
                EXPECT_TRUE(host.traced("createSnapProvider(): No more memory\n"));
            } else if (injected) {
                ++messagesDegraded;  // a converter or a remembered name went missing
            }
            EXPECT_EQ(tracker.live(), 0u);
        });
    EXPECT_EQ(failed, 5) << "registry, its list, two copies of options, the list entry";
    EXPECT_EQ(noProvider, 1);
    EXPECT_GE(messagesDegraded, 2) << "the converter record and the repository name";
}

}  // namespace
