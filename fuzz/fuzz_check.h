// FUZZ_CHECK: a property of the library that must hold for every input. A
// failure prints what failed and aborts, which libFuzzer records as a crash
// and the replay driver as a failed test.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                             \
  do {                                                                               \
    if (!(cond)) {                                                                   \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                  \
    }                                                                                \
  } while (0)
