/* Volume lists: the volumes of one snapshot, as a singly linked list of nodes shared with the host.
 *
 * Strings are NUL-terminated or null. Nodes made by the copy functions are zero-filled blocks of
 * the library's allocator whose strings are private copies (an empty string is copied as null);
 * whoever holds the head owns them and releases them with freeSnapList. The host may use the same
 * functions on its own lists. Fields without a name known to the library are copied as they are;
 * their meaning lies with the host. */
#ifndef BKP_SNAP_VOLUME_LIST_H
#define BKP_SNAP_VOLUME_LIST_H

#include <stdint.h>

#include "pisnp/resultCodes.h"
#include "pisnp_export.h"
#include "pisnp_layout.h"

typedef struct bkpSnapVolumeList_t {
    uint16_t value0;
    uint16_t reserved2[3];
    struct bkpSnapVolumeList_t* next; /* null at the end */
    char* source;                     /* device path: "/dev/" volume group "/" logical volume */
    char* volumeName;
    char* string32;
    char* string40;
    uint64_t sizeFactor1; /* first factor of the snapshot size */
    char* target;
    char* string64;
    uint64_t sizeFactor2; /* second factor of the snapshot size */
    uint32_t value80;
    uint16_t value84;
    uint16_t reserved86;
    char* string88; /* copied together with value120 */
    char* string96;
    char* string104;
    uint16_t reserved112;
    uint16_t value114;
    uint16_t value116;
    uint16_t reserved118;
    uint64_t value120; /* belongs to string88 */
    uint64_t reserved128;
} bkpSnapVolumeList_t;
PISNP_AT(bkpSnapVolumeList_t, value0, 0);
PISNP_AT(bkpSnapVolumeList_t, next, 8);
PISNP_AT(bkpSnapVolumeList_t, source, 16);
PISNP_AT(bkpSnapVolumeList_t, volumeName, 24);
PISNP_AT(bkpSnapVolumeList_t, string32, 32);
PISNP_AT(bkpSnapVolumeList_t, string40, 40);
PISNP_AT(bkpSnapVolumeList_t, sizeFactor1, 48);
PISNP_AT(bkpSnapVolumeList_t, target, 56);
PISNP_AT(bkpSnapVolumeList_t, string64, 64);
PISNP_AT(bkpSnapVolumeList_t, sizeFactor2, 72);
PISNP_AT(bkpSnapVolumeList_t, value80, 80);
PISNP_AT(bkpSnapVolumeList_t, value84, 84);
PISNP_AT(bkpSnapVolumeList_t, string88, 88);
PISNP_AT(bkpSnapVolumeList_t, string96, 96);
PISNP_AT(bkpSnapVolumeList_t, string104, 104);
PISNP_AT(bkpSnapVolumeList_t, value114, 114);
PISNP_AT(bkpSnapVolumeList_t, value116, 116);
PISNP_AT(bkpSnapVolumeList_t, value120, 120);
PISNP_AT(bkpSnapVolumeList_t, reserved128, 128);
PISNP_SIZE(bkpSnapVolumeList_t, 136);

/* Return code of CopySnapList when, while merging, a volume shares its source or its target (but
 * not both) with one already selected. */

#ifdef __cplusplus
/* The list functions have C++ linkage. */

/* Clears every field of the node that the copy functions write. */
PISNP_API void initSnapList(bkpSnapVolumeList_t* node);
/* Makes node the last node of *list (the whole list when *list is null). Returns 0. */
PISNP_API int appendElementToSnapList(bkpSnapVolumeList_t* node, bkpSnapVolumeList_t** list);
/* Links second behind the last node of first; returns the head of the joined list. */
PISNP_API bkpSnapVolumeList_t* concatSnapList(bkpSnapVolumeList_t* first,
                                              bkpSnapVolumeList_t* second);
/* 1 when a node of list has node's source and target; otherwise 0, with *conflict set to 1 when a
 * node has the same source or the same target. */
PISNP_API int IsSnapNodeInList(bkpSnapVolumeList_t* list, bkpSnapVolumeList_t* node, int* conflict);
/* Releases the non-empty strings of every node and, when freeNodes is non-zero, the nodes. */
PISNP_API void freeSnapList(bkpSnapVolumeList_t* list, int freeNodes);
/* Deep copy of from into *to; with merge non-zero, appended to *to skipping volumes already
 * there. 0, 102 without memory or BKP_RC_SNAP_VOLUME_CONFLICT; on failure *to is unchanged. */
PISNP_API int CopySnapList(bkpSnapVolumeList_t* from, bkpSnapVolumeList_t** to, int merge);
/* Copy of one node (string104 is not copied) into *to. 0 or 102. */
PISNP_API int copyOneSnapElement(bkpSnapVolumeList_t* from, bkpSnapVolumeList_t** to);
#endif

#endif /* BKP_SNAP_VOLUME_LIST_H */
