// A broken promise found by a fuzz target: the message, then an abort that
// libFuzzer reports as a crash with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                      \
  do {                                                  \
    if (!(condition)) {                                 \
      std::fprintf(stderr, "broken: %s: ", #condition); \
      std::fprintf(stderr, __VA_ARGS__);                \
      std::fprintf(stderr, "\n");                       \
      std::abort();                                     \
    }                                                   \
  } while (0)
