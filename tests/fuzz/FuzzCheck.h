#pragma once
// An expectation of a fuzz target: when it does not hold, the run stops and
// the report names it.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(ok)                                                                             \
    do {                                                                                           \
        if (!(ok)) {                                                                               \
            std::fprintf(stderr, "%s:%d: expected %s\n", __FILE__, __LINE__, #ok);                 \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
