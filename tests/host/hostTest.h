/* Shared by the plain-C host programs: their checks, which they count and end with the line
 * "N passed, N failed" that the test runner reads, and the host's own object. */
#ifndef PISNP_TEST_HOST_TEST_H
#define PISNP_TEST_HOST_TEST_H

#include <stdio.h>

#include "piPlugin.h"

static int passed, failed;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (cond) {                                                                  \
            ++passed;                                                                \
        } else {                                                                     \
            ++failed;                                                                \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
        }                                                                            \
    } while (0)

/* The library sees the services object's first part only; a real host's object goes on. */
typedef struct {
    piHostServices_t services;
    unsigned char hostPrivate[512];
} HostObject;

static HostObject host;
static piHostOps_t hostOps;
static piHostOptions_t hostOptions;

#endif /* PISNP_TEST_HOST_TEST_H */
