// Last-chance handling of a fault that escapes the audit run.
#include "audit/last_chance.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <typeinfo>

#include "tov32/faults/fault_records.h"
#include "tov32/platform/console.h"
#include "tov32/platform/machine.h"

namespace norva {
namespace {

// The message's two lines, built in `buffer` without the heap where memory
// may be gone: the class name of a fault that is not the library's own is
// demangled only while memory allows.
std::string_view MessageLines(char* buffer, std::size_t size, const std::exception* fault, const void* where) {
  const char* className = "Exception";
  const char* message = "";
  std::string demangled;
  if (const auto* own = dynamic_cast<const tov32::Exception*>(fault)) {
    className = own->ClassName();
    message = own->what();
    where = own->RaiseAddress();
  } else if (fault != nullptr && typeid(*fault) == typeid(std::bad_alloc)) {
    className = "EOutOfMemory";
    message = "Out of memory";
  } else if (fault != nullptr) {
    message = fault->what();
    try {
      demangled = tov32::ClassNameOf(*fault);
      className = demangled.c_str();
    } catch (const std::exception&) {
    }
  }
  const tov32::platform::CodeLocation location = tov32::platform::LocateCode(where);
  const std::size_t length = std::char_traits<char>::length(message);
  const bool addStop = length > 0 && message[length - 1] != '.';
  const int written = std::snprintf(buffer, size, "Exception %s in module %s at %08X.\r\n%s%s\r\n\r\n", className,
                                    location.moduleFileName, static_cast<unsigned>(location.relativeAddress), message,
                                    addStop ? "." : "");
  return std::string_view(buffer, written < 0 ? 0 : std::min(static_cast<std::size_t>(written), size - 1));
}

}  // namespace

int HandleLastChance(ConsoleStream& out, const std::exception* fault, const void* where) noexcept {
  out.CloseQuietly();
  char buffer[2048];
  const std::string_view lines = MessageLines(buffer, sizeof buffer, fault, where);
  tov32::platform::Console& console = tov32::platform::Use<tov32::platform::Console>();
  try {
    console.WriteStandardError(console.ToOemCodePage(std::string(lines)));
  } catch (const std::exception&) {
    console.WriteStandardError(lines);  // no memory to convert: the bytes as they are
  }
  return 1;
}

}  // namespace norva
