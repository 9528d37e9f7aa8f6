#pragma once
// Invariant checks for the fuzz targets. A broken invariant prints where and
// what, then ends the process with a plain abort(): libFuzzer reports that as
// a crash and saves the input, and the replay driver saves the input too.
// Sanitizer reports need nothing from here.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                           \
  do {                                                                       \
    if (!(condition)) {                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: ", __FILE__, __LINE__); \
      std::fprintf(stderr, __VA_ARGS__);                                     \
      std::fputc('\n', stderr);                                              \
      std::abort();                                                          \
    }                                                                        \
  } while (0)
