// The replaced global allocator of the test binaries.
#include "tests/support/alloc_fault.h"

#include <cstdlib>
#include <new>

namespace {

long gCountdown = 0;
bool gLasting = false;
bool gFailed = false;
int gPaused = 0;

void* Allocate(std::size_t size) {
  if (gPaused == 0 && ((gLasting && gFailed) || (gCountdown > 0 && --gCountdown == 0))) {
    gFailed = true;
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

}  // namespace

namespace norva_test {

void FailAllocation(long nth) {
  gCountdown = nth;
  gLasting = false;
  gFailed = false;
}

void FailAllocationsFrom(long nth) {
  FailAllocation(nth);
  gLasting = nth > 0;
}

bool AllocationFailed() { return gFailed; }

AllocationFaultPause::AllocationFaultPause() { ++gPaused; }

AllocationFaultPause::~AllocationFaultPause() { --gPaused; }

}  // namespace norva_test

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
