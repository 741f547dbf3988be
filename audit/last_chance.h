// What happens to a fault that escapes the audit run.
#pragma once

#include <exception>

#include "audit/console_stream.h"

namespace norva {

// Writes out what standard output still buffers, then to standard error
// "Exception <class> in module <file> at <8 hex digits>." CR LF, the
// message (with a closing "." added) and CR LF, and one more CR LF.
// `where` is the code that raised the fault when it is not known otherwise.
// Returns the exit code, 1.
int HandleLastChance(ConsoleStream& out, const std::exception* fault, const void* where) noexcept;

// The address that a call returns to: stands for the code that raised a
// fault which carries no address of its own.
__attribute__((noinline)) inline const void* CallerAddress() { return __builtin_return_address(0); }

// Runs `audit` and the stream's final hand-over; 0 when both succeed, else
// what HandleLastChance gives.
template <class Audit>
int RunWithLastChance(ConsoleStream& out, Audit&& audit) noexcept {
  try {
    audit();
    out.Close();
    return 0;
  } catch (const std::exception& fault) {
    return HandleLastChance(out, &fault, CallerAddress());
  } catch (...) {
    return HandleLastChance(out, nullptr, CallerAddress());
  }
}

}  // namespace norva
