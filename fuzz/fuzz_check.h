// A fuzzer's own invariant: a broken one ends the run on the input that
// broke it, with a line saying which.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tallyburn::fuzz {

inline void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace tallyburn::fuzz
