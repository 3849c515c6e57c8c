/* Layout checks for the records shared with the host.
 *
 * The host is built elsewhere and reads and writes these records at fixed byte offsets, so every
 * header of this directory pins each offset and size at compile time, in C as in C++. */
#ifndef PISNP_LAYOUT_H
#define PISNP_LAYOUT_H

#include <stddef.h>

#ifdef __cplusplus
#define PISNP_LAYOUT(cond, what) static_assert(cond, what)
#else
#define PISNP_LAYOUT(cond, what) _Static_assert(cond, what)
#endif

/* The record `type` has `member` at byte `offset`. */
#define PISNP_AT(type, member, offset) \
    PISNP_LAYOUT(offsetof(type, member) == (offset), #type "." #member " at byte " #offset)
/* The record `type` is `size` bytes long. */
#define PISNP_SIZE(type, size) PISNP_LAYOUT(sizeof(type) == (size), #type " is " #size " bytes")

#endif /* PISNP_LAYOUT_H */
