// What a directory listing found, for the tests of the listings and of what builds on them.
#pragma once

#include <set>
#include <string>

#include "pisnp/files.h"

namespace pisnp_test {

// Each entry as its path below dir, ":" and its isFile flag; the list is released.
inline std::set<std::string> listedEntries(LinkedList_t* list, const std::string& dir) {
    std::set<std::string> found;
    for (llNode_t* n = list != nullptr ? list->GetNextItem(list, nullptr) : nullptr; n != nullptr;
         n = list->GetNextItem(list, n)) {
        auto* e = static_cast<psEnumEntry_t*>(list->GetData(list, n));
        found.insert(std::string(e->path).substr(dir.size() + 1) + ":" + std::to_string(e->isFile));
    }
    delete_LinkedList(list);
    return found;
}

}  // namespace pisnp_test
