// The plug-in entry points in process, where the host test cannot reach: allocation failures and
// the registry's contents.
#include "pisnp/plugin.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

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

    FakeHost host;
    piSnapshotInitOut_t out{};
    pisnp_test::FakeClock clock;  // tear-down pauses for a status callback
};

TEST_F(PluginEntry, RegistersOneProviderUnderTheProviderHandle) {
    ASSERT_EQ(start(), 0);
    EXPECT_EQ(sharedUtilP, host.services());
    unsigned int handle = DssGlobalData::gdGetSnapProviderHandle();
    EXPECT_EQ(handle, 1u);
    DssSnapshotProvider* provider = DssGlobalData::gdGetSnapshotInstanceByListLocation(0);
    ASSERT_NE(provider, nullptr);
    EXPECT_EQ(provider->getSnapshotID(), handle);
    EXPECT_EQ(DssGlobalData::gdGetSnapshotInstanceByListLocation(1), nullptr);
    EXPECT_EQ(DssGlobalData::gdGetNextSnapshotID(), 2u) << "the host's first snapshot gets 2";

    EXPECT_EQ(piTerminate(), 0);
    EXPECT_EQ(DssGlobalData::gdGetSnapProviderHandle(), 0xFFFFFFFFu) << "registry gone";
    EXPECT_EQ(sharedUtilP, host.services()) << "the host object is kept after tear-down";
}

TEST_F(PluginEntry, HostWithoutOptionsCannotStartMessages) {
    host.services()->options = nullptr;
    EXPECT_EQ(start(), 610);
    EXPECT_EQ(DssGlobalData::gdGetSnapshotInstanceByListLocation(0), nullptr);
}

TEST_F(PluginEntry, RunningOutOfMemoryAtStartUp) {
    // The converters are opened once per process; the sweep starts after that.
    ASSERT_EQ(start(), 0);
    piTerminate();
    int noRegistry = 0, noProvider = 0, notRegistered = 0, messagesDegraded = 0;
    pisnp_test::sweepAllocationFailures(
        [&] {
            int rc = start();
            bool registered = DssGlobalData::gdGetSnapshotInstanceByListLocation(0) != nullptr;
            // Tear-down must work from whatever state the failure left.
            EXPECT_EQ(piTerminate(), 0);
            destroyNlsGlobalObject();  // what the message object keeps until its next start
            return std::make_pair(rc, registered);
        },
        [&](std::pair<int, bool> r, bool injected, AllocTracker& tracker) {
            if (!injected) {
                EXPECT_EQ(r.first, 0);
                EXPECT_TRUE(r.second);
            } else if (r.first == 102) {
                ++noRegistry;
                EXPECT_FALSE(r.second);
            } else if (r.first == 0 && r.second) {
                ++messagesDegraded;  // a converter or a remembered name went missing
            } else if (r.first == 0) {
                ++noProvider;  // the library runs on without a start-up provider
                EXPECT_TRUE(host.traced("createSnapProvider(): No more memory\n"));
            } else {
                ++notRegistered;
                EXPECT_EQ(r.first, 1);
                EXPECT_FALSE(r.second);
            }
            EXPECT_EQ(tracker.live(), 0u);
        });
    EXPECT_EQ(noRegistry, 4) << "registry, its list, the repository and directory copies";
    EXPECT_EQ(noProvider, 1);
    EXPECT_EQ(notRegistered, 1);
    EXPECT_GE(messagesDegraded, 2) << "the converter record and the repository name";
}

}  // namespace
