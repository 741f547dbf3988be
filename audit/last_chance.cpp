// Last-chance handling of a fault that escapes the audit run.
#include "audit/last_chance.h"

#include <cstdio>
#include <string>

#include "tov32/faults/fault_records.h"
#include "tov32/platform/console.h"
#include "tov32/platform/machine.h"

namespace norva {
namespace {

std::string MessageLines(const std::exception* fault, const void* where) {
  std::string className = "Exception";
  std::string message;
  if (fault != nullptr) {
    className = tov32::ClassNameOf(*fault);
    message = tov32::MessageOf(*fault);
    if (const auto* own = dynamic_cast<const tov32::Exception*>(fault)) where = own->RaiseAddress();
  }
  const tov32::platform::CodeLocation location = tov32::platform::LocateCode(where);
  char address[9];
  std::snprintf(address, sizeof address, "%08X", static_cast<unsigned>(location.relativeAddress));
  const bool addStop = !message.empty() && message.back() != '.';
  return "Exception " + className + " in module " + location.moduleFileName + " at " + address + ".\r\n" +
         message + (addStop ? "." : "") + "\r\n";
}

}  // namespace

int HandleLastChance(ConsoleStream& out, const std::exception* fault, const void* where) noexcept {
  out.CloseQuietly();
  try {
    tov32::platform::Console& console = tov32::platform::Use<tov32::platform::Console>();
    console.WriteStandardError(console.ToOemCodePage(MessageLines(fault, where)) + "\r\n");
  } catch (...) {
    // Out of memory even for the message: the exit code still tells.
  }
  return 1;
}

}  // namespace norva
