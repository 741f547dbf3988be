// A failed model check in a fuzz target: print what differs and abort, so
// that libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace norva_fuzz {

inline void Check(bool holds, const char* what, const std::string& got = {}, const std::string& wanted = {}) {
  if (holds) return;
  std::fprintf(stderr, "model mismatch: %s\n  got:    [%s]\n  wanted: [%s]\n", what, got.c_str(), wanted.c_str());
  std::abort();
}

}  // namespace norva_fuzz
