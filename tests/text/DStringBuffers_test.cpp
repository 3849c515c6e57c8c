// The buffers behind DString: growth, assignment in and across the two kinds, keeping the two
// representations in step, reference counting and copy-on-write at the buffer level.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "pisnp/buffers.h"
#include "support/allocTracker.h"
#include "text/strTestLocale.h"

namespace {

using pisnp_test::AllocTracker;

// Reads a buffer's state through member pointers taken in a derived class, which does not
// need the buffer to be one.
struct Peek : DSharedBuffer {
    static int refs(DSharedBuffer* b) { return b->*(&Peek::refcount); }
    static int locks(DSharedBuffer* b) { return b->*(&Peek::lockCount); }
    static DCharBuffer& chars(DSharedBuffer* b) { return b->*(&Peek::charBuf); }
    static DWCharBuffer& wides(DSharedBuffer* b) { return b->*(&Peek::wcharBuf); }
};

TEST(DBuffer, CapacityIsSixteenOrTheLeastPowerOfTwoThatHolds) {
    DCharBuffer b;
    for (int n = 0; n < 5000; n += 1 + n / 8) {
        int c = b.calcNewCapacity(n);
        EXPECT_TRUE(c >= 16 && c >= n && (c & (c - 1)) == 0 && (c == 16 || c / 2 < n)) << n;
    }
    EXPECT_GE(b.calcNewCapacity(0x7ffffff0), 0x7ffffff0) << "no overflow near the top";
}

TEST(DBuffer, GrowKeepsContentsOnlyWhenAskedAndFailsWithoutChange) {
    AllocTracker tracker;
    {
        DCharBuffer b;
        b.grow(5, 0);
        EXPECT_EQ(b.capacity, 16);
        EXPECT_STREQ(b.data, "") << "a new array holds the empty text";
        std::strcpy(b.data, "kept");
        b.grow(17, 1);
        EXPECT_EQ(b.capacity, 32);
        EXPECT_STREQ(b.data, "kept");
        char* before = b.data;
        tracker.failAt(1);
        EXPECT_THROW(b.grow(100, 1), std::bad_alloc);
        tracker.failAt(1);
        EXPECT_THROW(b.assign(L"x", 500, 0), std::bad_alloc);
        EXPECT_EQ(b.data, before);
        EXPECT_STREQ(b.data, "kept");
        b.grow(40, 0);
        EXPECT_STREQ(b.data, "");
    }
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(DBuffer, SameKindAssignHonoursLengthExactnessAndItsOwnText) {
    DCharBuffer b;
    b.assign("ab", 40, 0);  // without exact the length only reserves room
    EXPECT_STREQ(b.data, "ab");
    EXPECT_EQ(b.capacity, 64);
    b.assign(b.data + 1, 100, 0);  // must grow, and the source lives in the old array
    EXPECT_STREQ(b.data, "b");
    b.assign(static_cast<const char*>(nullptr), -1, 0);
    EXPECT_STREQ(b.data, "");

    DWCharBuffer w;
    w.assign(L"wide text", 4, 1);
    EXPECT_STREQ(w.data, L"wide");
}

TEST(DBuffer, ConvertsBetweenKindsCharacterByCharacter) {
    NEED_UTF8_LOCALE();
    DCharBuffer c;
    c.assign("\u00e9t\u00e9 \u20ac", -1, 0);
    DWCharBuffer w;
    w = c;
    EXPECT_STREQ(w.data, L"\u00e9t\u00e9 \u20ac");
    // Cutting to four bytes must not split the three-byte euro sign.
    c.assign(L"a\u20ac\u20ac", 4, 1);
    EXPECT_STREQ(c.data, "a\u20ac");
    c.assign(
        "a\xff"
        "b",
        -1, 0);
    w = c;
    EXPECT_STREQ(w.data, L"a?b") << "an invalid byte is one character and never stops it";
}

TEST(DSharedBuffer, WideViewIsMadeOnDemandAndWideWritesBecomeTheText) {
    NEED_UTF8_LOCALE();
    AllocTracker tracker;
    {
        DSharedBuffer* b = new DSharedBuffer("gr\u00fcn", -1, -1);
        EXPECT_EQ(Peek::wides(b).capacity, 0) << "no wide view until asked";
        EXPECT_STREQ(b->getConstWData(), L"gr\u00fcn");
        b = b->assign(L"r\u00f6t", -1, 0);
        EXPECT_STREQ(b->getConstData(), "r\u00f6t");
        EXPECT_EQ(b->getByteLen(), 4);
        EXPECT_EQ(b->getCharLen(), 3);

        b = b->lock(DSyncBuffer::kWide);
        wchar_t* w = b->getWData();
        w[1] = L'\u00df';
        EXPECT_STREQ(b->getConstData(), "r\u00dft") << "a read under the lock sees the wide text";
        w[2] = L'\u20ac';
        b->unlock(1);
        EXPECT_STREQ(b->getConstData(), "r\u00df\u20ac");
        EXPECT_EQ(b->getByteLen(), 6);
        EXPECT_EQ(b->getCharLen(), 3);
        b->releaseReference();
    }
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(DSharedBuffer, SharingCountsReferencesAndLockedBuffersAreCopied) {
    AllocTracker tracker;
    {
        DSharedBuffer* a = new DSharedBuffer("text", -1, -1);
        DSharedBuffer* b = a->getReference();
        EXPECT_EQ(a, b);
        EXPECT_EQ(Peek::refs(a), 2);

        // Locking a shared buffer gives the locker a private copy.
        DSharedBuffer* mine = b->lock(DSyncBuffer::kMultibyte);
        EXPECT_NE(mine, a);
        EXPECT_EQ(Peek::refs(a), 1);
        mine->getData()[0] = 'n';
        EXPECT_STREQ(a->getConstData(), "text");

        // While locked, a new reference is a copy, not the locked buffer itself.
        DSharedBuffer* other = mine->getReference();
        EXPECT_NE(other, mine);
        EXPECT_STREQ(other->getConstData(), "next");
        EXPECT_EQ(Peek::locks(other), 0);
        mine->unlock(1);
        EXPECT_EQ(mine->getReference(), mine);
        for (DSharedBuffer* p : {a, mine, mine, other}) p->releaseReference();
    }
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(DSharedBuffer, MoveShiftsTheRestOfTheTextBothWays) {
    DSharedBuffer* b = new DSharedBuffer("abcdef", -1, -1);
    b = b->lock(DSyncBuffer::kMultibyte);
    b->move(2, 20, -1);  // a gap beyond the capacity: grows, keeping the text
    EXPECT_EQ(Peek::chars(b).capacity, 32);
    EXPECT_EQ(std::string(b->getData(), 2), "ab");
    EXPECT_STREQ(b->getData() + 22, "cdef");
    std::memset(b->getData() + 2, '-', 20);
    b->move(22, -19, -1);
    EXPECT_STREQ(b->getData(), "ab-cdef");
    b->move(4, -1, 2);  // a counted move leaves the rest in place
    EXPECT_STREQ(b->getData(), "ab-deef");
    b->unlock(1);
    EXPECT_EQ(b->getByteLen(), 7);
    b->releaseReference();
}

TEST(DSharedBuffer, NullBufferIsOneSharedEmptyTextUntilReleased) {
    DSharedBuffer::getNullBuffer(1);
    AllocTracker tracker;
    DSharedBuffer* n = DSharedBuffer::getNullBuffer(0);
    EXPECT_EQ(DSharedBuffer::getNullBuffer(0), n);
    EXPECT_STREQ(n->getConstData(), "");
    DSharedBuffer* held = n->getReference();
    EXPECT_EQ(DSharedBuffer::getNullBuffer(1), nullptr);
    EXPECT_EQ(tracker.live(), 2u) << "a holder keeps the old one alive";
    held->releaseReference();
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(DSharedBuffer, FailedCopyOnLockLeavesTheSharedBufferAlone) {
    AllocTracker tracker;
    {
        DSharedBuffer* a = new DSharedBuffer("shared", -1, -1);
        DSharedBuffer* b = a->getReference();
        DSharedBuffer* mine = nullptr;
        // The copy, its array and its wide view each allocate; any of them may fail.
        for (unsigned long nth = 1; mine == nullptr; ++nth) {
            tracker.failAt(nth);
            try {
                mine = b->lock(DSyncBuffer::kWide);
                EXPECT_EQ(nth, 4u);
            } catch (const std::bad_alloc&) {
                EXPECT_EQ(Peek::refs(a), 2);
                EXPECT_EQ(Peek::locks(a), 0);
                EXPECT_EQ(tracker.live(), 2u) << "the half-made copy is gone";
            }
        }
        tracker.failAt(0);
        EXPECT_EQ(Peek::refs(a), 1);
        mine->unlock(1);
        mine->releaseReference();
        a->releaseReference();
    }
    EXPECT_EQ(tracker.live(), 0u);
}

#ifndef NDEBUG
TEST(DSharedBufferDeathTest, MisuseStopsOnItsAssertion) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* b = new DSharedBuffer(8);
            b = b->lock(DSyncBuffer::kMultibyte);
            b->lock(DSyncBuffer::kWide);
        },
        "current == type");
    EXPECT_DEATH(
        {
            auto* b = new DSharedBuffer(8);
            b->getReference();
            b->unlock(1);
        },
        "refcount == 1");
    EXPECT_DEATH((new DSharedBuffer(8))->getData(), "isLocked \\(\\) && current == 0");
}
#endif

}  // namespace
