#include "pisnp/snapshotRegistry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fakeHost.h"
#include "pisnp/plugin.h"
#include "pisnp/snapshotProvider.h"
#include "support/allocTracker.h"
#include "support/fakeClock.h"

namespace {

using pisnp_test::AllocTracker;
using snaptest::FakeHost;

// What the registry did to the providers it cleaned up: (ID, stop mode) per clean-up, and the
// IDs of the deleted ones, in order.
std::vector<std::pair<unsigned int, int>> cleanedUp;
std::vector<unsigned int> deleted;

class RecordingProvider : public DSnapshotProvider {
  public:
    explicit RecordingProvider(unsigned int id)
        : DSnapshotProvider(id, nullptr, nullptr, nullptr, 0, 0, 0, 0, nullptr) {}
    ~RecordingProvider() override { deleted.push_back(getSnapshotID()); }
    int cleanUpOnError(bkpSnapshotStopMode mode) override {
        cleanedUp.emplace_back(getSnapshotID(), static_cast<int>(mode));
        return 0;
    }
};

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        cleanedUp.clear();
        deleted.clear();
        getSnapAttrib();
    }
    void TearDown() override {
        DssGlobalData::gdDestroyDssGlobalData();
        std::memset(&gSnapAttrib, 0, sizeof gSnapAttrib);
    }
    // A registry for the volume manager provider, with no host information.
    void create() {
        int existed = -1;
        ASSERT_EQ(DssGlobalData::gdCreateDssGlobalData(&existed, piSnapProviderInfo_t{}), 0);
        ASSERT_EQ(existed, 0);
    }

    FakeHost host;
};

TEST_F(Registry, EveryCallHasAnAnswerWithoutARegistry) {
    pisnp_test::FakeClock clock;
    RecordingProvider provider(1);
    EXPECT_EQ(DssGlobalData::gdGetNextSnapshotID(), 0xFFFFFFFFu);
    EXPECT_EQ(DssGlobalData::gdSetSnapProviderHandle(5), -1);
    EXPECT_EQ(DssGlobalData::gdGetSnapProviderHandle(), 0xFFFFFFFFu);
    EXPECT_EQ(DssGlobalData::gdGetSnapProviderInfo(), nullptr);
    EXPECT_EQ(DssGlobalData::gdAddSnapshotInstance(&provider), -1);
    EXPECT_EQ(DssGlobalData::gdRemoveSnapshotInstance(1), -1);
    EXPECT_EQ(DssGlobalData::gdGetSnapshotInstance(7), nullptr);
    EXPECT_EQ(DssGlobalData::gdHoldSnapshotInstance(7), nullptr);
    EXPECT_EQ(clock.pauses(), 0) << "no retry without a registry";
    EXPECT_EQ(DssGlobalData::gdGetSnapshotInstanceByListLocation(0), nullptr);
    bkpSnapshotErrorInfo_t error;
    std::memset(&error, 0x5A, sizeof error);
    DssGlobalData::gdSetSnapError(&error);
    DssGlobalData::gdGetSnapError(&error);
    EXPECT_EQ(error.data[0], 0x5A);
    DssGlobalData::gdDestroyDssGlobalData();
    EXPECT_TRUE(host.traced(
        "DssGlobalData::gdGetSnapshotInstance(): handle 7 ERROR: Global data object is NULL.\n"));
    EXPECT_EQ(host.count("Global data object is NULL"), 9);
}

TEST_F(Registry, HandsOutIdsFromOneAndSearchesUnknownOnesTwice) {
    create();
    EXPECT_EQ(DssGlobalData::gdGetNextSnapshotID(), 1u);
    EXPECT_EQ(DssGlobalData::gdGetNextSnapshotID(), 2u);
    EXPECT_TRUE(host.traced("DssGlobalData::GetNextSnapshotID(): Returning snapshot ID 2.\n"));
    EXPECT_EQ(DssGlobalData::gdGetSnapProviderHandle(), 0u);
    EXPECT_EQ(DssGlobalData::gdSetSnapProviderHandle(3), 0);
    EXPECT_EQ(DssGlobalData::gdGetSnapProviderHandle(), 3u);
    int existed = 0;
    EXPECT_EQ(DssGlobalData::gdCreateDssGlobalData(&existed, piSnapProviderInfo_t{}), 0);
    EXPECT_EQ(existed, 1);
    EXPECT_EQ(DssGlobalData::gdGetNextSnapshotID(), 3u) << "the existing registry is kept";

    host.clear();
    pisnp_test::FakeClock clock;
    EXPECT_EQ(DssGlobalData::gdGetSnapshotInstance(0), nullptr);
    EXPECT_EQ(clock.elapsed(), 1.0);
    EXPECT_EQ(host.lines(),
              (std::vector<std::string>{
                  "DssGlobalData::gdGetSnapshotInstance(): handle 0\n",
                  "DssGlobalData::GetSnapshotInstanceByID(): ERROR: Snapshot instance 0 is NULL.\n",
                  "DssGlobalData::GetSnapshotInstanceByID(): ERROR2: Snapshot instance 0 is still "
                  "NULL\n",
                  "DssGlobalData::gdGetSnapshotInstance(): local handle is now 0\n"}));
    DssGlobalData::gdDestroyDssGlobalData();
    create();
    EXPECT_EQ(DssGlobalData::gdGetNextSnapshotID(), 1u) << "a new registry starts again";
}

TEST_F(Registry, FindsAddsAndRemovesProviders) {
    create();
    auto* one = new RecordingProvider(1);
    auto* two = new RecordingProvider(2);
    ASSERT_EQ(DssGlobalData::gdAddSnapshotInstance(one), 0);
    ASSERT_EQ(DssGlobalData::gdAddSnapshotInstance(two), 0);
    EXPECT_TRUE(
        host.traced("DssGlobalData::AddSnapshotInstance(): 2 current snapshot instances.\n"));
    EXPECT_EQ(DssGlobalData::gdGetSnapshotInstance(2), two);
    EXPECT_EQ(DssGlobalData::gdGetSnapshotInstanceByListLocation(0), one);
    EXPECT_EQ(DssGlobalData::gdGetSnapshotInstanceByListLocation(2), nullptr);
    EXPECT_TRUE(host.traced("GetSnapshotInstanceByListLocation(): Snapshot instance is NULL.\n"));

    host.clear();
    EXPECT_EQ(DssGlobalData::gdRemoveSnapshotInstance(9), 0);
    EXPECT_EQ(host.lines().back(),
              "DssGlobalData::RemoveSnapshotInstance(): ERROR: snapshot instance 9 not found.\n");
    EXPECT_EQ(DssGlobalData::gdRemoveSnapshotInstance(1), 0);
    EXPECT_EQ(host.lines().back(),
              "DssGlobalData::RemoveSnapshotInstance(): 1 current snapshot instances.\n");
    EXPECT_TRUE(deleted.empty()) << "removing hands the provider back to the caller";
    EXPECT_EQ(DssGlobalData::gdGetSnapshotInstanceByListLocation(0), two);
    delete one;
}

// A held provider that is taken out and disposed of lives until its last hold is released; one
// that is not held goes at once, and a provider taken out can no longer be held.
TEST_F(Registry, DisposedProvidersGoWithTheirLastHold) {
    create();
    pisnp_test::FakeClock clock;
    auto* provider = new RecordingProvider(4);
    ASSERT_EQ(DssGlobalData::gdAddSnapshotInstance(provider), 0);
    EXPECT_EQ(DssGlobalData::gdHoldSnapshotInstance(4), provider);
    EXPECT_EQ(DssGlobalData::gdHoldSnapshotInstance(4), provider);
    EXPECT_EQ(provider->getStatusCallbackRunning(), 2);
    DssGlobalData::gdReleaseSnapshotInstance(provider);
    DssGlobalData::gdRemoveSnapshotInstance(4);
    EXPECT_EQ(DssGlobalData::gdHoldSnapshotInstance(4), nullptr);
    DssGlobalData::gdDisposeSnapshotInstance(provider);
    EXPECT_TRUE(deleted.empty());
    DssGlobalData::gdReleaseSnapshotInstance(provider);
    EXPECT_EQ(deleted, std::vector<unsigned int>{4});
    DssGlobalData::gdDisposeSnapshotInstance(new RecordingProvider(5));
    EXPECT_EQ(deleted, (std::vector<unsigned int>{4, 5}));
}

TEST_F(Registry, DestroyCleansUpAndDeletesWhatIsLeftInListOrder) {
    AllocTracker tracker;
    create();
    for (unsigned int id : {3u, 1u, 2u})
        ASSERT_EQ(DssGlobalData::gdAddSnapshotInstance(new RecordingProvider(id)), 0);
    DssGlobalData::gdDestroyDssGlobalData();
    EXPECT_EQ(cleanedUp, (std::vector<std::pair<unsigned int, int>>{{3, 1}, {1, 1}, {2, 1}}));
    EXPECT_EQ(deleted, (std::vector<unsigned int>{3, 1, 2}));
    EXPECT_EQ(tracker.live(), 0u);
    EXPECT_EQ(DssGlobalData::gdGetNextSnapshotID(), 0xFFFFFFFFu);
}

TEST_F(Registry, ProviderInformationAndTheLastError) {
    AllocTracker tracker;
    std::vector<unsigned char> block(PI_PROVIDER_INFO_SIZE);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 7 + 1);
    piSnapProviderInfo_t info{block.data()};
    gSnapAttrib.providerType = 4;
    int existed = -1;
    ASSERT_EQ(DssGlobalData::gdCreateDssGlobalData(&existed, info), 0);
    void** kept = DssGlobalData::gdGetSnapProviderInfo();
    ASSERT_NE(*kept, nullptr);
    EXPECT_NE(*kept, block.data());
    EXPECT_EQ(std::memcmp(*kept, block.data(), block.size()), 0);
    // Applying other information to the existing registry drops the earlier copy.
    for (unsigned int type : {1u, 2u, 3u, 5u, 6u}) {
        gSnapAttrib.providerType = type;
        ASSERT_EQ(DssGlobalData::gdCreateDssGlobalData(&existed, info), 0);
        EXPECT_EQ(existed, 1);
        EXPECT_EQ(*DssGlobalData::gdGetSnapProviderInfo(), nullptr);
    }

    bkpSnapshotErrorInfo_t stored, fetched;
    std::memset(&fetched, 0xFF, sizeof fetched);
    DssGlobalData::gdGetSnapError(&fetched);
    EXPECT_EQ(fetched.data[sizeof fetched.data - 1], 0) << "zero at creation";
    for (size_t i = 0; i < sizeof stored.data; ++i) stored.data[i] = static_cast<unsigned char>(i);
    DssGlobalData::gdSetSnapError(&stored);
    DssGlobalData::gdSetSnapError(nullptr);
    DssGlobalData::gdGetSnapError(nullptr);
    DssGlobalData::gdGetSnapError(&fetched);
    EXPECT_EQ(std::memcmp(&stored, &fetched, sizeof stored), 0);
    EXPECT_EQ(host.count("gdGetSnapError(): Exiting...\n"), 2);
    DssGlobalData::gdDestroyDssGlobalData();
    EXPECT_EQ(tracker.live(), 0u);

    for (unsigned int type : {0u, 7u, 0xFFFFFFFFu}) {
        gSnapAttrib.providerType = type;
        EXPECT_EQ(DssGlobalData::gdCreateDssGlobalData(&existed, piSnapProviderInfo_t{}), 24);
        EXPECT_TRUE(host.traced("bkpInitializeSnapshot(): Invalid snap provider <" +
                                std::to_string(static_cast<int>(type)) + ">.\n"));
        EXPECT_EQ(DssGlobalData::gdGetNextSnapshotID(), 1u) << "the registry stays";
        DssGlobalData::gdDestroyDssGlobalData();
    }
}

// Running out of memory while the registry or its list is made, or while a provider is added, is
// piEntry_test's and bkpEntry_test's; only the copy of the host's block fails here.
TEST_F(Registry, RunningOutOfMemoryForTheHostsBlock) {
    std::vector<unsigned char> block(PI_PROVIDER_INFO_SIZE, 0x42);
    gSnapAttrib.providerType = 4;
    AllocTracker tracker;
    int existed = 0;
    ASSERT_EQ(DssGlobalData::gdCreateDssGlobalData(&existed, {block.data()}), 0);
    tracker.failAt(1);
    EXPECT_EQ(DssGlobalData::gdCreateDssGlobalData(&existed, {block.data()}), 102);
    EXPECT_TRUE(host.traced("DssGlobalData::SetSnapProviderInfo(): No more memory\n"));
    EXPECT_EQ(*DssGlobalData::gdGetSnapProviderInfo(), nullptr);
    DssGlobalData::gdDestroyDssGlobalData();
    EXPECT_EQ(tracker.live(), 0u);
}

}  // namespace
