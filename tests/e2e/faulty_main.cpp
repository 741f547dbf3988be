// NorvaAudit with the test allocator: NORVA_FAIL_ALLOCATION=N makes its Nth
// allocation fail, NORVA_FAIL_ALLOCATIONS_FROM=N that one and every later
// one, so that end-to-end tests can prove every fault path of the whole
// program. When the run made fewer allocations, the file named by
// NORVA_FAULT_UNUSED is created to say so.
#include <cstdio>
#include <cstdlib>

#include "audit/program.h"
#include "tests/support/alloc_fault.h"

int main() {
  if (const char* nth = std::getenv("NORVA_FAIL_ALLOCATION")) norva_test::FailAllocation(std::atol(nth));
  if (const char* nth = std::getenv("NORVA_FAIL_ALLOCATIONS_FROM")) norva_test::FailAllocationsFrom(std::atol(nth));
  const int exitCode = norva::RunProgram();
  const bool failed = norva_test::AllocationFailed();
  norva_test::FailAllocation(0);
  const char* unused = std::getenv("NORVA_FAULT_UNUSED");
  if (!failed && unused != nullptr) {
    if (std::FILE* marker = std::fopen(unused, "w")) std::fclose(marker);
  }
  return exitCode;
}
