// A broken invariant is a finding: print what was expected and abort, so the
// fuzzer stores the input that led here.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n  ", __FILE__, __LINE__,          \
                         #condition);                                                              \
            std::fprintf(stderr, __VA_ARGS__);                                                     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
