// Memory-fault injection: the test binaries replace the global allocator so
// that a test can make the Nth allocation from now fail with std::bad_alloc.
#pragma once

namespace norva_test {

// Arms the hook: the `nth` allocation from now (1 = the next) fails.
// 0 disarms it.
void FailAllocation(long nth);

// Arms the hook so that the `nth` allocation from now and every one after
// it fail, as when memory stays exhausted. 0 disarms it.
void FailAllocationsFrom(long nth);

// Whether the armed allocation has failed since the hook was armed.
bool AllocationFailed();

// Stops counting allocations for its lifetime, so that test code run inside
// a call (an observer, a fake) does not take the fault meant for the call.
class AllocationFaultPause {
 public:
  AllocationFaultPause();
  ~AllocationFaultPause();
  AllocationFaultPause(const AllocationFaultPause&) = delete;
  AllocationFaultPause& operator=(const AllocationFaultPause&) = delete;
};

// Arms the hook for its lifetime and disarms it at the end.
class AllocationFault {
 public:
  explicit AllocationFault(long nth, bool lasting = false) {
    lasting ? FailAllocationsFrom(nth) : FailAllocation(nth);
  }
  ~AllocationFault() { FailAllocation(0); }
  AllocationFault(const AllocationFault&) = delete;
  AllocationFault& operator=(const AllocationFault&) = delete;
};

}  // namespace norva_test
