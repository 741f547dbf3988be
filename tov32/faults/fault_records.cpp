// Fault records, exception classes and the guarded routines' handler.
#include "tov32/faults/fault_records.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <typeinfo>

#include "tov32/faults/exception_report.h"
#include "tov32/platform/errors.h"

namespace tov32 {

tGlobalSettings GlobalSettings;
tDebugRec DebugRec;

namespace {

// The C++ library's ABI tags ("[abi:cxx11]") belong to no class's name.
std::string WithoutAbiTags(std::string name) {
  for (std::size_t tag = name.find("[abi:"); tag != std::string::npos; tag = name.find("[abi:", tag)) {
    const std::size_t end = name.find(']', tag);
    name.erase(tag, end == std::string::npos ? std::string::npos : end + 1 - tag);
  }
  return name;
}

// The demangled name of a type, without its namespaces.
std::string UnqualifiedTypeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                   std::free);
  const std::string name = WithoutAbiTags(status == 0 && demangled ? demangled.get() : type.name());
  // The last scope separator outside template arguments ends the namespaces.
  std::size_t cut = 0;
  int depth = 0;
  for (std::size_t i = 0; i + 1 < name.size(); ++i) {
    if (name[i] == '<') ++depth;
    if (name[i] == '>') --depth;
    if (depth == 0 && name[i] == ':' && name[i + 1] == ':') cut = i + 2;
  }
  return name.substr(cut);
}

}  // namespace

// Not inlined, so that the return address lies in the code that raised.
__attribute__((noinline)) Exception::Exception(std::string message)
    : message_(std::move(message)), raiseAddress_(__builtin_return_address(0)) {}

EInOutError::EInOutError(int errorCode) : Exception(platform::IoErrorMessage(errorCode)), errorCode_(errorCode) {}

std::string ClassNameOf(const std::exception& fault) {
  if (const auto* own = dynamic_cast<const Exception*>(&fault)) return own->ClassName();
  if (typeid(fault) == typeid(std::bad_alloc)) return "EOutOfMemory";
  return UnqualifiedTypeName(typeid(fault));
}

std::string MessageOf(const std::exception& fault) {
  if (typeid(fault) == typeid(std::bad_alloc)) return "Out of memory";
  return fault.what();
}

void ReportFault(tExceptionRec record, const char* function, std::int32_t trace,
                 const std::exception& fault) {
  try {
    record.Function = function;
    record.ClassName = ClassNameOf(fault);
    record.Message = MessageOf(fault);
    record.Trace = trace;
    record.FileName = GlobalSettings.ExceptionFileName;
    record.bBeep = true;
    SaveExceptionRecAsXML(std::move(record));
  } catch (const std::exception&) {
    // Memory is gone even for the report: the fault stays unreported rather
    // than leaving a routine that promised not to throw.
  }
}

}  // namespace tov32
