/* Export marker of libPiSNP.so.
 *
 * The library is built with hidden visibility; only declarations marked with
 * PISNP_API are part of the host interface. */
#ifndef PISNP_EXPORT_H
#define PISNP_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define PISNP_API __attribute__((visibility("default")))
#else
#define PISNP_API
#endif

#endif /* PISNP_EXPORT_H */
