/* Shared by the host test programs, in C and C++: their checks, which they count and end with
 * the line "N passed, N failed" that the test runner reads. */
#ifndef PISNP_TEST_HOST_TEST_H
#define PISNP_TEST_HOST_TEST_H

#include <stdio.h>

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

#endif /* PISNP_TEST_HOST_TEST_H */
