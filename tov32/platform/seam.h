// Test seam of the platform layer: every interface has one native instance
// per backend, and a test or host program may put its own in its place.
#pragma once

namespace tov32::platform {

// The backend's own instance of an interface; each interface header
// declares the specialisation and each backend defines it.
template <class Interface>
Interface& Native();

template <class Interface>
struct Seam {
  static inline Interface* replacement = nullptr;
};

// The instance in force: a replacement when one is set, else the native one.
template <class Interface>
Interface& Use() {
  Interface* replacement = Seam<Interface>::replacement;
  return replacement != nullptr ? *replacement : Native<Interface>();
}

// Puts `fake` in place of the interface for the lifetime of this object.
template <class Interface>
class ScopedReplacement {
 public:
  explicit ScopedReplacement(Interface& fake) : previous_(Seam<Interface>::replacement) {
    Seam<Interface>::replacement = &fake;
  }
  ~ScopedReplacement() { Seam<Interface>::replacement = previous_; }
  ScopedReplacement(const ScopedReplacement&) = delete;
  ScopedReplacement& operator=(const ScopedReplacement&) = delete;

 private:
  Interface* previous_;
};

}  // namespace tov32::platform
