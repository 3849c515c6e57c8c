// Volume lists shared with the host: building, copying, merging, searching and freeing them.
//
// Unlike the rest of the plug-in these functions trace through the runtime's own trace facility,
// because the host calls them on its own lists, possibly before the plug-in is started.
#include "bkpSnapVolumeList.h"
#include "mem/checkedAlloc.h"
#include "pisnp/resultCodes.h"
#include "pisnp/strings.h"
#include "pisnp/trace.h"

namespace {

// Private copy of a string field: a missing or empty string stays null, so that copies never
// carry strings that freeSnapList would leave alone.
char* dupField(const char* s) {
    if (s == nullptr || *s == '\0') return nullptr;
    return StrDup(s);
}

bool bothPresentAndEqual(const char* a, const char* b) {
    return a != nullptr && b != nullptr && StrCmp(a, b) == 0;
}

// The string fields in the order in which they are released.
void stringFields(bkpSnapVolumeList_t* n, char** out[9]) {
    out[0] = &n->source;
    out[1] = &n->volumeName;
    out[2] = &n->target;
    out[3] = &n->string32;
    out[4] = &n->string64;
    out[5] = &n->string40;
    out[6] = &n->string96;
    out[7] = &n->string88;
    out[8] = &n->string104;
}

// A new node copied from `from`, or null when memory ran out (nothing is left allocated then).
// The string at 104 is copied only when withString104 is set.
bkpSnapVolumeList_t* copyNode(const bkpSnapVolumeList_t* from, bool withString104) {
    auto* node = static_cast<bkpSnapVolumeList_t*>(ARC_CALLOC(1, sizeof(bkpSnapVolumeList_t)));
    if (node == nullptr) return nullptr;
    node->value0 = from->value0;
    node->sizeFactor1 = from->sizeFactor1;
    node->sizeFactor2 = from->sizeFactor2;
    node->value80 = from->value80;
    node->value84 = from->value84;
    node->value114 = from->value114;
    node->value116 = from->value116;

    bool complete = true;
    auto copy = [&complete](char*& to, const char* s) {
        to = dupField(s);
        if (to == nullptr && s != nullptr && *s != '\0') complete = false;
    };
    copy(node->source, from->source);
    copy(node->volumeName, from->volumeName);
    copy(node->target, from->target);
    copy(node->string32, from->string32);
    copy(node->string64, from->string64);
    copy(node->string40, from->string40);
    copy(node->string88, from->string88);
    if (node->string88 != nullptr) node->value120 = from->value120;
    copy(node->string96, from->string96);
    if (withString104) copy(node->string104, from->string104);

    if (!complete) {
        freeSnapList(node, 1);
        return nullptr;
    }
    return node;
}

}  // namespace

void initSnapList(bkpSnapVolumeList_t* node) {
    node->value0 = 0;
    node->next = nullptr;
    node->source = nullptr;
    node->volumeName = nullptr;
    node->string32 = nullptr;
    node->string40 = nullptr;
    node->sizeFactor1 = 0;
    node->target = nullptr;
    node->string64 = nullptr;
    node->sizeFactor2 = 0;
    node->value80 = 0;
    node->value84 = 0;
    node->string88 = nullptr;
    node->string96 = nullptr;
    node->string104 = nullptr;
    node->value114 = 0;
    node->value116 = 0;
    node->value120 = 0;
}

int appendElementToSnapList(bkpSnapVolumeList_t* node, bkpSnapVolumeList_t** list) {
    TRACE(TR_ENTER, "Enter: function %s()\n", "appendSnapElementToList");
    if (*list == nullptr) {
        *list = node;
    } else {
        bkpSnapVolumeList_t* last = *list;
        while (last->next != nullptr) last = last->next;
        last->next = node;
    }
    TRACE(TR_EXIT, "Exit: function %s()\n", "appendSnapElementToList");
    return 0;
}

bkpSnapVolumeList_t* concatSnapList(bkpSnapVolumeList_t* first, bkpSnapVolumeList_t* second) {
    if (first == nullptr) return second;
    bkpSnapVolumeList_t* last = first;
    while (last->next != nullptr) last = last->next;
    last->next = second;
    return first;
}

int IsSnapNodeInList(bkpSnapVolumeList_t* list, bkpSnapVolumeList_t* node, int* conflict) {
    int ignored = 0;
    if (conflict == nullptr) conflict = &ignored;
    *conflict = 0;
    for (bkpSnapVolumeList_t* e = list; e != nullptr; e = e->next) {
        bool sameSource = bothPresentAndEqual(e->source, node->source);
        bool sameTarget = bothPresentAndEqual(e->target, node->target);
        if (sameSource && sameTarget) return 1;
        if (sameSource || sameTarget) {
            *conflict = 1;
            return 0;
        }
    }
    return 0;
}

void freeSnapList(bkpSnapVolumeList_t* list, int freeNodes) {
    while (list != nullptr) {
        bkpSnapVolumeList_t* next = list->next;
        char** fields[9];
        stringFields(list, fields);
        for (char** field : fields) {
            // Empty strings are left alone: host nodes may point at constant empty strings.
            if (*field != nullptr && **field != '\0') {
                ARC_FREE(*field);
                *field = nullptr;
            }
        }
        if (freeNodes != 0) ARC_FREE(list);
        list = next;
    }
}

int CopySnapList(bkpSnapVolumeList_t* from, bkpSnapVolumeList_t** to, int merge) {
    TRACE(TR_ENTER, "%s(): Enter.\n", "CopySnapList");
    if (from == nullptr) return PISNP_RC_OK;

    bkpSnapVolumeList_t* head = nullptr;
    bkpSnapVolumeList_t* tail = nullptr;
    int added = 0;
    for (bkpSnapVolumeList_t* node = from; node != nullptr; node = node->next) {
        if (merge != 0) {
            int conflict = 0;
            if (IsSnapNodeInList(*to, node, &conflict) == 1) {
                TRACE(TR_SNAPSHOT,
                      "CopySnapList(): Node src=<%s>,tgt=<%s> already exists in the original "
                      "list\n",
                      node->source, node->target);
                continue;
            }
            if (conflict != 0) {
                TRACE(TR_SNAPSHOT,
                      "CopySnapList(): Volume with same source <%s> or target <%s> already "
                      "selected in outSnapListP.\n",
                      node->source, node->target);
                freeSnapList(head, 1);
                return BKP_RC_SNAP_VOLUME_CONFLICT;
            }
            if (IsSnapNodeInList(head, node, &conflict) == 1) {
                TRACE(TR_SNAPSHOT,
                      "CopySnapList(): Node src=<%s>,tgt=<%s> duplicate in the new list.\n",
                      node->source, node->target);
                continue;
            }
            if (conflict != 0) {
                TRACE(TR_SNAPSHOT,
                      "CopySnapList(): Volume with same source <%s> or target <%s> already "
                      "selected in copyListVLP.\n",
                      node->source, node->target);
                freeSnapList(head, 1);
                return BKP_RC_SNAP_VOLUME_CONFLICT;
            }
        }

        bkpSnapVolumeList_t* copy = copyNode(node, true);
        if (copy == nullptr) {
            TRACE(TR_SNAPSHOT, "CopyVolumeList(): No more memory\n");
            freeSnapList(head, 1);
            return PISNP_RC_NO_MEMORY;
        }
        if (tail == nullptr)
            head = copy;
        else
            tail->next = copy;
        tail = copy;
        ++added;
        TRACE(TR_SNAPSHOT,
              "CopySnapList(): Added node with source <%s> and target <%s> volumeName <%s>\n",
              copy->source, copy->target, copy->volumeName);
    }
    TRACE(TR_SNAPSHOT, "CopySnapList(): Number of nodes added <%d>\n", added);

    if (merge == 0)
        *to = head;
    else if (head != nullptr)
        *to = concatSnapList(*to, head);
    TRACE(TR_EXIT, "%s(): Exit with rc=%d.\n", "CopySnapList", PISNP_RC_OK);
    return PISNP_RC_OK;
}

int copyOneSnapElement(bkpSnapVolumeList_t* from, bkpSnapVolumeList_t** to) {
    TRACE(TR_ENTER, "Enter: function %s()\n", "copyOneSnapElement");
    if (from == nullptr) return PISNP_RC_OK;
    bkpSnapVolumeList_t* copy = copyNode(from, false);
    if (copy == nullptr) {
        TRACE(TR_GENERAL, "copyOneSnapElement(): No more memory\n");
        return PISNP_RC_NO_MEMORY;
    }
    *to = copy;
    TRACE(TR_EXIT, "Exit: function %s()\n", "copyOneSnapElement");
    return PISNP_RC_OK;
}
