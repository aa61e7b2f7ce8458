#ifndef fuzz_FuzzCheck_h
#define fuzz_FuzzCheck_h
/* A failed property is a finding like a crash: libFuzzer keeps the input */

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                               \
    do {                                                                    \
        if(!(condition)) {                                                  \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                   \
        }                                                                   \
    } while(false)

#endif
