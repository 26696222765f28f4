#pragma once
// A property every input must keep. A broken one is reported with its text and line, then aborts, which
// libFuzzer records as a crash with the input that caused it.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                                  \
    do {                                                                                                       \
        if (!(condition)) {                                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                \
            std::abort();                                                                                      \
        }                                                                                                      \
    } while (false)
