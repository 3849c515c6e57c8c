#include "pisnp/handleLists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <list>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "pisnp/pools.h"
#include "support/allocTracker.h"

namespace {

using pisnp_test::AllocTracker;

void* value(uintptr_t v) {
    return reinterpret_cast<void*>(v);
}

std::map<void*, int> dropped;
void countDrop(void* data) {
    ++dropped[data];
}

int byData(const void* a, const void* b, const void*) {
    auto x = reinterpret_cast<uintptr_t>(static_cast<const llNode_t*>(a)->data);
    auto y = reinterpret_cast<uintptr_t>(static_cast<const llNode_t*>(b)->data);
    return x < y ? -1 : x > y;
}

// The data from head to tail, read through the table; checks count, tail and the end link.
std::vector<void*> walk(LinkedList_t* list) {
    std::vector<void*> out;
    llNode_t* last = nullptr;
    for (llNode_t* n = list->GetNextItem(list, nullptr); n != nullptr && out.size() <= list->count;
         n = list->GetNextItem(list, n)) {
        out.push_back(list->GetData(list, n));
        last = n;
    }
    EXPECT_EQ(out.size(), list->GetNumItems(list));
    EXPECT_EQ(list->tail, last);
    EXPECT_EQ(list->IsEmpty(list), out.empty() ? 1 : 0);
    return out;
}

// Random work through the operation table against std::list, with node allocations failing now
// and then, for a list in checked memory and one in a pool: the chain, count, tail, the
// cursor's answers and the free-destructor calls always match the model.
TEST(HandleLists, ModelWithCursorAndFaults) {
    mpPoolInit();
    for (int pool : {0, ARCP_CREATE(4)}) {
        AllocTracker tracker;
        std::mt19937 rng(11 + pool);
        dropped.clear();
        std::map<void*, int> expectDropped;
        LinkedList_t* list = new_LinkedList(countDrop, pool);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->GetMemPool(list), pool);
        std::list<void*> model;
        for (int step = 0; step < 4000; ++step) {
            void* data = value(1 + rng() % 50);
            int op = rng() % 20;
            if (rng() % 10 == 0) tracker.failAt(1);
            if (op < 6) {
                unsigned long failures = tracker.failures();
                llNode_t* node =
                    op < 3 ? list->InsertAtTop(list, data) : list->InsertAtBottom(list, data);
                if (tracker.failures() == failures) {
                    ASSERT_NE(node, nullptr);
                    EXPECT_EQ(node->data, data);
                    op < 3 ? model.push_front(data) : model.push_back(data);
                } else {
                    EXPECT_EQ(node, nullptr);
                    if (pool != 0) ARCP_DESTROY(ARCP_CREATE(1));  // the pool may grow again
                }
            } else if (op < 9 && !model.empty()) {
                unsigned at = rng() % model.size();
                ASSERT_EQ(list->DeleteItem(list, llGetItemAt(list, at)), 1);
                auto it = std::next(model.begin(), at);
                ++expectDropped[*it];
                model.erase(it);
            } else if (op < 10) {
                llNode_t stranger{nullptr, data};
                EXPECT_EQ(list->DeleteItem(list, &stranger), 0);
                EXPECT_EQ(list->DeleteItem(list, nullptr), 0);
            } else if (op < 16) {
                unsigned at = rng() % (model.size() + 2);
                llNode_t* node = list->GetItemAt(list, at);
                if (at < model.size())
                    ASSERT_EQ(list->GetData(list, node), *std::next(model.begin(), at)) << step;
                else
                    ASSERT_EQ(node, nullptr);
            } else if (op < 18) {
                long found = 0;
                for (llNode_t* n = list->FindItem(list, data, ListSearchForPointer); n != nullptr;
                     n = list->FindItemDup(list, n, data, ListSearchForPointer), ++found)
                    ASSERT_EQ(n->data, data);
                EXPECT_EQ(found, std::count(model.begin(), model.end(), data));
            } else if (op < 19) {
                list->SortList(list, byData, nullptr);
                model.sort([](void* a, void* b) { return a < b; });
            } else if (rng() % 10 == 0) {
                for (void* d : model) ++expectDropped[d];
                list->DeleteAllItems(list);
                model.clear();
            }
            tracker.failAt(0);
            ASSERT_EQ(walk(list), std::vector<void*>(model.begin(), model.end())) << step;
            ASSERT_EQ(dropped, expectDropped) << step;
        }
        delete_LinkedList(list);
        if (pool == 0) {
            EXPECT_EQ(tracker.live(), 0u);
        } else {
            EXPECT_EQ(list->count, model.size());  // left alone: its memory goes with the pool
            EXPECT_EQ(mpDestroyAll(), 0);
            EXPECT_EQ(tracker.live(), 0u);
            mpPoolInit();
        }
    }
}

TEST(HandleLists, CursorAndEdgeCases) {
    LinkedList_t* list = new_LinkedList(nullptr, 0);
    EXPECT_EQ(llGetItemAt(list, 0), nullptr);
    list->SortList(list, byData, nullptr);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);
    list->InsertAtBottom(list, value(9));
    list->SortList(list, byData, nullptr);
    EXPECT_EQ(list->tail, list->head);
    for (uintptr_t v = 10; v < 17; ++v) list->InsertAtBottom(list, value(v));

    // A cursor is only a shortcut: deleting before it clears it, behind it leaves it.
    llNode_t* fifth = llGetItemAt(list, 5);
    EXPECT_EQ(list->cursorNode, fifth);
    EXPECT_EQ(llGetItemAt(list, 8), nullptr);
    EXPECT_EQ(list->cursorIndex, 5u);
    llDeleteItem(list, llGetNextItem(list, fifth));
    EXPECT_EQ(list->cursorIndex, 5u);
    llDeleteItem(list, list->head->next->next);
    EXPECT_EQ(list->cursorNode, nullptr);
    EXPECT_EQ(llGetItemAt(list, 5), list->tail);
    EXPECT_EQ(list->tail->data, value(16));
    EXPECT_EQ(llFindItemDup(list, list->tail, value(16), ListSearchForPointer), nullptr);
    delete_LinkedList(list);

    EXPECT_EQ(ListSearchForString("Path", "path"), 2);
    EXPECT_EQ(ListSearchForStringi("Path", "pATH"), 0);
    EXPECT_EQ(ListSearchForStringi("b", "A"), 1);
}

TEST(HandleListThreads, ConcurrentListsInOneSharedPool) {
    mpPoolInit();
    mpHandle pool = ARCP_CREATE(8);
    std::vector<std::thread> threads;
    std::vector<LinkedList_t*> lists(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, pool, &lists] {
            LinkedList_t* list = new_LinkedList(nullptr, pool);
            for (uintptr_t i = 0; i < 2000; ++i) list->InsertAtTop(list, value(i * 4 + t));
            list->SortList(list, byData, nullptr);
            lists[t] = list;
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) {
        std::vector<void*> expected;
        for (uintptr_t i = 0; i < 2000; ++i) expected.push_back(value(i * 4 + t));
        EXPECT_EQ(walk(lists[t]), expected);
    }
    ARCP_DESTROY(pool);
}

}  // namespace
