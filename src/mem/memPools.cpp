// Memory pools: a table of pool entries indexed by handle, each with a list of blocks that
// pieces are carved from, best fit first.
#include "pisnp/pools.h"

#include <pthread.h>
#include <sched.h>
#include <sys/single_threaded.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/report.h"
#include "mem/poolShortcut.h"
#include "mem/shmSegments.h"
#include "pisnp/alloc.h"
#include "pisnp/traceFlags.h"

namespace {

namespace report = pisnp::report;

// Catalog messages of the pools.
enum : unsigned {
    kMsgTableFailed = 21150,
    kMsgCreated = 21151,
    kMsgGrowthFailed = 21152,
    kMsgUnknownHandle = 21153,
    kMsgDestroying = 21154,
    kMsgBadSize = 21155,
    kMsgAllocFailed = 21157,
    kMsgAllocated = 21158,
    kMsgStrDupFailed = 21159,
    kMsgStatsHeading = 21161,
    kMsgStatsBlock = 21162,
    kMsgStatsTotals = 21163,
};

constexpr int kTableGrowth = 520;
constexpr int kMinIncrement = 2048;
constexpr int kHeaderSize = 24;

// The head of each block; the block's data follows right behind it.
struct BufHead {
    int32_t used;
    int32_t free;
    BufHead* next;
    uint64_t unused;
};
static_assert(sizeof(BufHead) == kHeaderSize);

// A pool's blocks in ascending order of free space, the sentinel first; a block just made is
// appended as it is. The storage comes from the checked allocator, so that running out of memory
// here shows like everywhere else.
struct BlockVector {
    BufHead** items;
    int count;
    int capacity;
};

struct PEntry {
    int32_t incSize;  // 0 while the entry is free
    int32_t blockSize;
    BufHead* first;  // ListSentry when the pool has no block
    PEntry* nextFree;
    uint32_t shm;
    int32_t shmId;
    uint32_t full;
    int32_t handle;
    BlockVector* sorted;  // null: the pool searches its list
    BufHead* segment;     // the block that is a shared-memory segment, if any
    // The shortcut of the common request (see fastCarve): the vector's last block while a
    // request of at least fastMin bytes is known to be carved from it, leaving it at least
    // fastKeep bytes; null when the search must run.
    BufHead* fast;
    int32_t fastMin;
    int32_t fastKeep;
};

// The pool lock: recursive, as the trace that a pool operation calls out to may come back for a
// piece. Every operation takes it once there are threads, so it is taken with one atomic
// compare-and-swap and given back with a plain store: half of what a mutex of the threads library
// costs, which needs a second atomic operation to learn of its waiters. Pool operations hold it
// briefly; a thread that finds it taken spins a little, then yields the processor, and now and
// then sleeps, so that a holder of lower priority gets to run.
class PoolMutex {
  public:
    void lock() {
        uintptr_t self = thisThread();
        uintptr_t holder = 0;
        if (owner_.compare_exchange_strong(holder, self, std::memory_order_acquire)) return;
        if (holder == self)
            ++depth_;
        else
            waitFor(self);
    }
    void unlock() {
        if (depth_ > 0)
            --depth_;
        else
            owner_.store(0, std::memory_order_release);
    }
    // What destroying a mutex answers: EBUSY while a thread holds it.
    int destroy() const { return owner_.load(std::memory_order_acquire) == 0 ? 0 : EBUSY; }

  private:
    // Any number that tells the threads alive apart.
    static uintptr_t thisThread() {
#if defined(__x86_64__)
        return reinterpret_cast<uintptr_t>(__builtin_thread_pointer());
#else
        return static_cast<uintptr_t>(pthread_self());
#endif
    }
    [[gnu::noinline]] void waitFor(uintptr_t self) {
        for (unsigned tries = 1;; ++tries) {
            uintptr_t holder = 0;
            if (owner_.load(std::memory_order_relaxed) == 0 &&
                owner_.compare_exchange_weak(holder, self, std::memory_order_acquire))
                return;
            if (tries < 64) {
                relax();
            } else if (tries % 64 != 0) {
                sched_yield();
            } else {
                timespec pause{0, 50000};
                nanosleep(&pause, nullptr);
            }
        }
    }
    static void relax() {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#elif defined(__powerpc__) || defined(__powerpc64__)
        __asm__ __volatile__("or 27,27,27" ::: "memory");
#endif
    }

    std::atomic<uintptr_t> owner_{0};  // the holder, 0 when free
    int depth_ = 0;                    // times the holder took it again; only it reads this
};

// Pools work even for a host that creates one before mpPoolInit; mpDestroyAll marks the lock
// destroyed and mpPoolInit makes it live again.
PoolMutex mempool_mutex;
std::atomic<bool> lockLive{true};

PEntry* PoolTable = nullptr;
int PoolEntryCount = 0;
PEntry* FreeEntryList = nullptr;
// Its free space of 0 stops every search and every re-sort.
BufHead ListSentry{};
int MemFull = 0;
int PoolCount = 0;
std::atomic<int> PoolHiCount{0};
std::atomic<int> poolOverride{0};

const dsChar_t kEmptyString[1] = "";

bool shortcutOn = true;

void startLock() {
    if (!lockLive.load(std::memory_order_acquire)) lockLive.store(true, std::memory_order_release);
}

// Holds mempool_mutex for one pool operation. While the process has never had a second thread
// nobody can contend for the lock, and taking it would cost more than carving a piece, so it is
// taken only once there are threads, or before the operation runs code that is not the pool's
// own (the allocator with its handlers, the trace): that code might start a thread that calls
// in.
class PoolLock {
  public:
    PoolLock() {
        if (!__libc_single_threaded) take();
    }
    ~PoolLock() {
        if (held_) mempool_mutex.unlock();
    }
    PoolLock(const PoolLock&) = delete;
    PoolLock& operator=(const PoolLock&) = delete;

    void beforeCallout() {
        if (!held_) take();
    }

  private:
    void take() {
        startLock();
        mempool_mutex.lock();
        held_ = true;
    }
    bool held_ = false;
};

// A broken precondition is the caller's programming error: debug builds stop with the
// condition's text, others refuse the call.
#ifdef NDEBUG
#define POOL_CHECK(cond, text) static_cast<bool>(cond)
#else
#define POOL_CHECK(cond, text) \
    ((cond) ? true : (__assert_fail(text, __FILE__, __LINE__, __func__), false))
#endif

PEntry* liveEntry(mpHandle handle) {
    if (!POOL_CHECK(handle >= 1, "handle >= 1")) return nullptr;
    if (!POOL_CHECK(handle < PoolEntryCount, "handle < PoolEntryCount")) return nullptr;
    PEntry* poolP = &PoolTable[handle];
    if (!POOL_CHECK(poolP->incSize > 0, "poolP->incSize > 0")) return nullptr;
    return poolP;
}

PEntry* shmEntry(mpHandle handle) {
    if (!POOL_CHECK(handle >= 1 && handle < PoolEntryCount,
                    "handle >= 1 && handle < PoolEntryCount"))
        return nullptr;
    return &PoolTable[handle];
}

BlockVector* newVector() {
    return static_cast<BlockVector*>(ARC_CALLOC(1, sizeof(BlockVector)));
}

bool push(BlockVector* v, BufHead* block) {
    if (v->count == v->capacity) {
        int capacity = v->capacity == 0 ? 4 : v->capacity * 2;
        auto* items = static_cast<BufHead**>(ARC_REALLOC(v->items, capacity * sizeof(BufHead*)));
        if (items == nullptr) return false;
        v->items = items;
        v->capacity = capacity;
    }
    v->items[v->count++] = block;
    return true;
}

void freeVector(PEntry& entry) {
    if (entry.sorted == nullptr) return;
    ARC_FREE(entry.sorted->items);
    ARC_FREE(entry.sorted);
    entry.sorted = nullptr;
}

// Grows the table by the growth count and makes the new entries the free list.
bool growTable(PoolLock& lock) {
    int growth =
        TEST_MEMPOOLSIZE.on && TEST_MEMPOOLSIZE.value >= 2 ? TEST_MEMPOOLSIZE.value : kTableGrowth;
    int old = PoolEntryCount;
    if (old > INT_MAX - growth) return false;
    lock.beforeCallout();
    auto* table = static_cast<PEntry*>(
        PoolTable == nullptr ? ARC_CALLOC(growth, sizeof(PEntry))
                             : ARC_REALLOC(PoolTable, (size_t(old) + growth) * sizeof(PEntry)));
    if (table == nullptr) {
        report::messageLog(__FILE_NAME__, __LINE__, TR_MEMORY,
                           PoolTable == nullptr ? kMsgTableFailed : kMsgGrowthFailed);
        return false;
    }
    PoolTable = table;
    for (int i = old; i < old + growth; ++i) {
        PEntry& entry = table[i];
        entry = PEntry{};
        entry.first = &ListSentry;
        entry.shmId = -1;
        entry.handle = i;
        entry.nextFree = i + 1 < old + growth ? &table[i + 1] : nullptr;
        if (TEST_MEMPOOLSIMPLESEARCH.on || i == 0) continue;
        entry.sorted = newVector();
        bool stored = entry.sorted != nullptr && push(entry.sorted, &ListSentry);
        if (!stored) {
            if (entry.sorted != nullptr)
                REPORT_TRACE(TR_MEMORY, "arcpCreate(): No memory for pointers of lists\n");
            // The entries stay outside the table's count; they are made again next time.
            for (int j = old; j <= i; ++j) freeVector(table[j]);
            return false;
        }
    }
    // Entry 0 is never handed out: handle 0 means no pool.
    FreeEntryList = &table[old == 0 ? 1 : old];
    PoolEntryCount = old + growth;
    return true;
}

void markFull(PEntry* entry) {
    entry->full = 1;
    MemFull = 1;
    entry->fast = nullptr;
}

// A new block with room for size bytes at the front of the pool's list (and at the end of its
// vector, in vector mode), or null with the pool marked full when it cannot grow.
BufHead* newBlock(PEntry* entry, int64_t size, bool vectorMode, PoolLock& lock) {
    int64_t dataSize = size < entry->blockSize && poolOverride.load(std::memory_order_relaxed) != 1
                           ? entry->blockSize
                           : size;
    if (dataSize > INT32_MAX - kHeaderSize) return nullptr;
    lock.beforeCallout();
    BufHead* block;
    if (entry->shm != 0) {
        // One segment per pool: a second one would lose the first one's id.
        if (dataSize + kHeaderSize > entry->incSize) return nullptr;
        if (entry->segment != nullptr) {
            markFull(entry);
            return nullptr;
        }
        block = static_cast<BufHead*>(
            pisnp::mem::shmSegmentAlloc(static_cast<unsigned long>(entry->incSize), &entry->shmId));
        entry->segment = block;
    } else {
        block = static_cast<BufHead*>(ARC_MALLOC(static_cast<size_t>(dataSize) + kHeaderSize));
    }
    if (block == nullptr) {
        markFull(entry);
        return nullptr;
    }
    block->used = 0;
    block->free = static_cast<int32_t>(dataSize);
    block->unused = 0;
    block->next = entry->first;
    entry->first = block;
    if (vectorMode && !push(entry->sorted, block)) {
        // The block stays on the list, which is what destruction walks.
        REPORT_TRACE(TR_MEMORY, "PoolGet(): No memory for pointers of lists\n");
        markFull(entry);
        return nullptr;
    }
    return block;
}

// The lowest index whose block fits; the last one is known to fit.
int tightestFit(const BlockVector* v, int64_t size) {
    int lo = 0;
    int hi = v->count - 1;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        if (v->items[mid]->free >= size)
            hi = mid;
        else
            lo = mid + 1;
    }
    return hi;
}

// Keeps the list in descending order of free space after block (behind prev, or first when
// prev is null) has shrunk.
void resortList(PEntry* entry, BufHead* prev, BufHead* block) {
    BufHead* successor = block->next;
    if (successor->free <= block->free) return;
    if (prev == nullptr)
        entry->first = successor;
    else
        prev->next = successor;
    BufHead* at = successor;
    while (at->next->free > block->free) at = at->next;
    block->next = at->next;
    at->next = block;
}

// Most requests go to the block made last, which sits at the end of the vector: pieces are
// carved in a row until it runs out. The search finds it whenever every block that the search
// probes on its way to the end has less free space than the request, that is, above the
// largest free space among them; and the re-sort leaves it in place while it keeps at least the
// free space of its left neighbour. Both bounds depend only on blocks that carving from the last
// one does not touch, so they are worked out after each search and hold until the next.
void prepareFastCarve(PEntry* entry) {
    entry->fast = nullptr;
    const BlockVector* v = entry->sorted;
    if (v == nullptr || v->count < 2 || entry->full != 0 || !shortcutOn) return;
    int32_t probed = 0;
    for (int lo = 0, hi = v->count - 1; lo < hi;) {
        int mid = lo + (hi - lo) / 2;
        probed = std::max(probed, v->items[mid]->free);
        lo = mid + 1;
    }
    entry->fastMin = probed + 1;
    entry->fastKeep = v->items[v->count - 2]->free;
    entry->fast = v->items[v->count - 1];
}

// The piece PoolGet would carve, when the shortcut applies; null otherwise (nothing changed).
inline void* fastCarve(mpHandle handle, size_t req) {
    if (static_cast<unsigned>(handle) >= static_cast<unsigned>(PoolEntryCount)) return nullptr;
    PEntry* entry = &PoolTable[handle];
    BufHead* block = entry->fast;
    // Entry 0 and free entries never have a shortcut; a size of 0 wraps around to the top.
    if (block == nullptr || req - 1 >= size_t{INT32_MAX - 7}) return nullptr;
    int32_t size = (static_cast<int32_t>(req) + 7) & ~7;
    if (size < entry->fastMin || block->free - size < entry->fastKeep) return nullptr;
    if (TEST_MEMPOOLSIMPLESEARCH.on || poolOverride.load(std::memory_order_relaxed) == 1)
        return nullptr;
    void* piece = reinterpret_cast<char*>(block) + kHeaderSize + block->used;
    block->used += size;
    block->free -= size;
    return piece;
}

void* PoolGet(PEntry* entry, int req, PoolLock& lock) {
    if (entry->full != 0) return nullptr;
    int64_t size = req <= 7 ? 8 : (int64_t{req} + 7) & ~int64_t{7};
    bool vectorMode = !TEST_MEMPOOLSIMPLESEARCH.on && entry->sorted != nullptr;
    BlockVector* v = entry->sorted;
    int64_t largest;
    if (vectorMode) {
        if (v->count == 0) {
            markFull(entry);
            return nullptr;
        }
        largest = v->items[v->count - 1]->free;
    } else {
        largest = entry->first->free;
    }

    BufHead* block;
    BufHead* prev = nullptr;
    int index = -1;
    if (largest >= size && poolOverride.load(std::memory_order_relaxed) != 1) {
        if (vectorMode) {
            index = tightestFit(v, size);
            block = v->items[index];
        } else {
            block = entry->first;
            while (block->next->free >= size) {
                prev = block;
                block = block->next;
            }
        }
    } else {
        block = newBlock(entry, size, vectorMode, lock);
        if (block == nullptr) return nullptr;
    }

    void* piece = reinterpret_cast<char*>(block) + kHeaderSize + block->used;
    block->free -= static_cast<int32_t>(size);
    block->used += static_cast<int32_t>(size);

    if (!vectorMode) {
        entry->fast = nullptr;
        resortList(entry, prev, block);
        return piece;
    }
    if (index > 0) {
        // A block just made stays at the end.
        while (index > 1 && v->items[index]->free < v->items[index - 1]->free) {
            std::swap(v->items[index], v->items[index - 1]);
            --index;
        }
    }
    prepareFastCarve(entry);
    return piece;
}

void DisplayStats(const PEntry* entry) {
    if (TR_MEMORY == 0) return;
    report::message(__FILE_NAME__, __LINE__, kMsgStatsHeading, entry->incSize, 45);
    int blocks = 0;
    int64_t capacity = 0;
    int64_t free = 0;
    for (const BufHead* b = entry->first; b != &ListSentry; b = b->next) {
        ++blocks;
        report::message(__FILE_NAME__, __LINE__, kMsgStatsBlock, blocks, b->used + b->free,
                        b->free);
        capacity += b->used + b->free;
        free += b->free;
    }
    report::message(__FILE_NAME__, __LINE__, kMsgStatsTotals,
                    static_cast<int>(blocks * kHeaderSize + capacity), static_cast<int>(capacity),
                    static_cast<int>(free), static_cast<int>(capacity - free));
}

void PoolDestroy(PEntry* entry, PoolLock& lock) {
    if (entry->incSize == 0) return;
    lock.beforeCallout();
    for (BufHead* b = entry->first; b != &ListSentry;) {
        BufHead* next = b->next;
        if (b == entry->segment)
            pisnp::mem::shmSegmentRelease(entry->shmId, b);
        else
            ARC_FREE(b);
        b = next;
    }
    entry->first = &ListSentry;
    entry->segment = nullptr;
    entry->shmId = -1;
    entry->fast = nullptr;
    // The vector keeps its storage, so the sentinel always finds room again.
    if (entry->sorted != nullptr) {
        entry->sorted->count = 0;
        push(entry->sorted, &ListSentry);
    }
    entry->incSize = entry->blockSize = 0;
    entry->shm = entry->full = 0;
    entry->nextFree = FreeEntryList;
    FreeEntryList = entry;
    // Freeing one pool gives every pool another chance to grow.
    if (MemFull != 0) {
        for (int i = 1; i < PoolEntryCount; ++i) PoolTable[i].full = 0;
        MemFull = 0;
    }
}

}  // namespace

void mpPoolInit() {
    startLock();
    PoolLock lock;
    if (PoolTable != nullptr) return;
    FreeEntryList = nullptr;
    PoolEntryCount = 0;
    ListSentry = BufHead{};
    MemFull = 0;
    poolOverride.store(0, std::memory_order_relaxed);
}

int mpDestroyAll() {
    if (!lockLive.load(std::memory_order_acquire)) return 0;
    {
        PoolLock lock;
        lock.beforeCallout();
        if (PoolTable != nullptr) {
            for (int i = 1; i < PoolEntryCount; ++i) {
                PoolDestroy(&PoolTable[i], lock);
                freeVector(PoolTable[i]);
            }
            ARC_FREE(PoolTable);
            PoolTable = nullptr;
            FreeEntryList = nullptr;
            PoolEntryCount = 0;
        }
    }
    int rc = mempool_mutex.destroy();
    if (rc == 0) lockLive.store(false, std::memory_order_release);
    return rc;
}

mpHandle arcpCreate(size_t sizeKB, const char* file, unsigned int line) {
    // The increment is a 32-bit signed number of bytes.
    if (sizeKB > INT32_MAX / 1024) return -1;
    PoolLock lock;
    if (FreeEntryList == nullptr && !growTable(lock)) return -1;
    PEntry* entry = FreeEntryList;
    FreeEntryList = entry->nextFree;
    entry->nextFree = nullptr;
    entry->incSize = sizeKB < 2 ? kMinIncrement : static_cast<int32_t>(sizeKB * 1024);
    entry->first = &ListSentry;
    entry->blockSize = ((entry->incSize - 17) & ~7) - 8 * static_cast<int32_t>(sizeKB);
    entry->full = entry->shm = 0;
    entry->shmId = -1;
    entry->segment = nullptr;
    if (TR_MEMORY != 0) {
        lock.beforeCallout();
        report::message(__FILE_NAME__, __LINE__, kMsgCreated, entry->handle, entry->incSize,
                        file != nullptr ? file : "", static_cast<int>(line));
    }
    int count = ++PoolCount;
    if (count > PoolHiCount.load(std::memory_order_relaxed))
        PoolHiCount.store(count, std::memory_order_relaxed);
    return entry->handle;
}

void arcpDestroy(mpHandle handle, const char* file, unsigned int line) {
    PoolLock lock;
    if (handle < 1 || handle >= PoolEntryCount || PoolTable[handle].incSize < 1) {
        lock.beforeCallout();
        report::message(__FILE_NAME__, __LINE__, kMsgUnknownHandle, handle);
        return;
    }
    PEntry* entry = &PoolTable[handle];
    if (TR_MEMORY != 0) {
        lock.beforeCallout();
        report::message(__FILE_NAME__, __LINE__, kMsgDestroying, handle,
                        file != nullptr ? file : "", static_cast<int>(line));
        DisplayStats(entry);
    }
    PoolDestroy(entry, lock);
    --PoolCount;
}

namespace {

void traceAllocated(int32_t req, mpHandle handle, PoolLock& lock) {
    lock.beforeCallout();
    report::message(__FILE_NAME__, __LINE__, kMsgAllocated, req, handle);
}

[[gnu::noinline]] void* allocLocked(mpHandle handle, size_t size) {
    PoolLock lock;
    if (void* piece = fastCarve(handle, size)) {
        if (TR_MEMORY != 0) traceAllocated(static_cast<int32_t>(size), handle, lock);
        return piece;
    }
    PEntry* entry = liveEntry(handle);
    if (entry == nullptr) return nullptr;
    // A size beyond 31 bits is refused like a negative one, never cut down to a smaller piece.
    int32_t req = size > INT32_MAX ? -1 : static_cast<int32_t>(size);
    if (req <= 0) {
        lock.beforeCallout();
        report::messageLog(__FILE_NAME__, __LINE__, TR_MEMORY, kMsgBadSize, handle);
        return nullptr;
    }
    void* piece = PoolGet(entry, req, lock);
    if (piece == nullptr) {
        if (TR_MEMORY != 0 || TR_GENERAL != 0) {
            lock.beforeCallout();
            report::messageLog(__FILE_NAME__, __LINE__, TR_MEMORY, kMsgAllocFailed, handle);
        }
        return nullptr;
    }
    if (TR_MEMORY != 0) traceAllocated(req, handle, lock);
    return piece;
}

}  // namespace

bool pisnp::mem::testing::setPoolShortcut(bool on) {
    PoolLock lock;
    bool was = shortcutOn;
    shortcutOn = on;
    for (int i = 1; i < PoolEntryCount; ++i) PoolTable[i].fast = nullptr;
    return was;
}

// Kept small, so that the common request costs little more than the call: without a second
// thread there is no lock to take, and with the trace off nothing to report.
void* mpAlloc(mpHandle handle, size_t size) {
    if (__libc_single_threaded && TR_MEMORY == 0) {
        if (void* piece = fastCarve(handle, size)) return piece;
    }
    return allocLocked(handle, size);
}

dsChar_t* mpStrDup(mpHandle handle, const dsChar_t* s) {
    PoolLock lock;
    PEntry* entry = liveEntry(handle);
    if (entry == nullptr || s == nullptr) return nullptr;
    size_t length = std::strlen(s);
    if (length == 0) return const_cast<dsChar_t*>(kEmptyString);
    void* piece = fastCarve(handle, length + 1);
    if (piece == nullptr && length < INT32_MAX)
        piece = PoolGet(entry, static_cast<int>(length + 1), lock);
    if (piece == nullptr) {
        if (TR_MEMORY != 0 || TR_GENERAL != 0) {
            lock.beforeCallout();
            report::message(__FILE_NAME__, __LINE__, kMsgStrDupFailed, s, handle);
        }
        return nullptr;
    }
    std::memcpy(piece, s, length + 1);
    return static_cast<dsChar_t*>(piece);
}

void mpPoolOverride() {
    poolOverride.store(1, std::memory_order_relaxed);
}

void mpSetShmPoolBit(mpHandle handle) {
    PoolLock lock;
    if (PEntry* entry = shmEntry(handle)) entry->shm = 1;
}

dsInt32_t mpGetShmPoolID(mpHandle handle) {
    PoolLock lock;
    PEntry* entry = shmEntry(handle);
    return entry != nullptr ? entry->shmId : -1;
}

void* mpGetShmPoolAddr(mpHandle handle) {
    PoolLock lock;
    PEntry* entry = shmEntry(handle);
    if (entry == nullptr) return nullptr;
    if (entry->shm != 0) return entry->segment;
    return entry->first != &ListSentry ? entry->first : nullptr;
}

int mpStatus(mpHandle handle) {
    PoolLock lock;
    if (handle < 1 || handle >= PoolEntryCount) return -1;
    return PoolTable[handle].full != 0 ? 1 : 0;
}

int mpGetPeakMP() {
    return PoolHiCount.load(std::memory_order_relaxed);
}
