// The checks of the native tests: each failed CHECK is printed and counted,
// and main returns report(), which prints the verdict the Python side reads.
#pragma once

#include <cstdio>

namespace native_check {
inline int failures = 0;

inline int report() {
    std::printf("%s (%d failed checks)\n", failures == 0 ? "OK" : "FAILED", failures);
    return failures == 0 ? 0 : 1;
}
}  // namespace native_check

#define CHECK(cond)                                                       \
    do {                                                                  \
        if (!(cond)) {                                                    \
            ++native_check::failures;                                     \
            std::printf("FAILED %s:%d: %s\n", __FILE__, __LINE__, #cond); \
        }                                                                 \
    } while (0)
