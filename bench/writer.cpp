// Writes N MiB of letters to standard output in 64 KiB writes: the child of
// the capture benchmarks.
#include <cstdlib>
#include <string>

#include "tov32/platform/console.h"

int main(int argc, char** argv) {
  const long mebibytes = argc > 1 ? std::atol(argv[1]) : 1;
  const std::string chunk(65536, 'x');
  tov32::platform::Console& console = tov32::platform::Native<tov32::platform::Console>();
  for (long i = 0; i < mebibytes * 16; ++i) {
    if (console.WriteStandardOutput(chunk) != 0) return 1;
  }
  return 0;
}
