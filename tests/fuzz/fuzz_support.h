// What every fuzz target shares: a check that reports through abort, so that
// libFuzzer (and the replay driver) stop with the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                            \
  do {                                                                        \
    if (!(condition)) {                                                       \
      std::fprintf(stderr, "fuzz check failed: %s: ", #condition);            \
      std::fprintf(stderr, __VA_ARGS__);                                      \
      std::fprintf(stderr, "\n");                                             \
      std::abort();                                                           \
    }                                                                         \
  } while (0)
