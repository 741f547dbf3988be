// The library's shared records, its exception classes, and the frame that
// every guarded routine runs its body in.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace tov32 {

// One fault, as handed to the report writer.
struct tExceptionRec {
  std::string Function;
  std::string ClassName;
  std::string Message;
  std::int32_t Trace = 0;
  std::string SQL;
  std::string CallingFunction;
  std::string Notes;
  std::string FileName;
  bool bBeep = false;
};

// A guarded routine's working record; the frame uses only its Trace.
struct tLogRec {
  std::int32_t Code = 0;
  std::int32_t Trace = 0;
  std::string Text;
  double StartTime = 0;
};

struct tLog {
  std::string LogName;
  std::string LogFolder;
  std::string LogFile;
};

// The library's settings; a host program fills them, the audit tool does not.
struct tGlobalSettings {
  std::string SelfName;
  std::string Version;
  std::string HostName;
  std::string ExceptionFileName;
  tLog Log;
  std::int32_t CoInitializeCount = 0;
  std::int32_t NestingCount = 0;
  std::string PathPrefix;
};

struct tDebugRec {
  std::string Texts[7];
  std::int32_t Value = 0;
};

extern tGlobalSettings GlobalSettings;
extern tDebugRec DebugRec;

// Base of the library's own exception classes: it keeps the message and the
// address of the code that raised the fault.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message);
  const char* what() const noexcept override { return message_.c_str(); }
  virtual const char* ClassName() const noexcept = 0;
  const void* RaiseAddress() const noexcept { return raiseAddress_; }

 private:
  std::string message_;
  const void* raiseAddress_;
};

// An input/output fault with the system's error code.
class EInOutError : public Exception {
 public:
  explicit EInOutError(int errorCode);
  const char* ClassName() const noexcept override { return "EInOutError"; }
  int ErrorCode() const noexcept { return errorCode_; }

 private:
  int errorCode_;
};

class ERegistryException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "ERegistryException"; }
};

// The class name that reports show for a fault: the most derived class's own
// name, "EOutOfMemory" for memory exhaustion.
std::string ClassNameOf(const std::exception& fault);

// The message that reports show for a fault.
std::string MessageOf(const std::exception& fault);

// Fills `record` for `fault` caught in `function` at checkpoint `trace` and
// hands it to the report writer; a fault while doing so is dropped.
void ReportFault(tExceptionRec record, const char* function, std::int32_t trace,
                 const std::exception& fault);

// Runs `body` as the guarded body of `function`: a fault of std::exception's
// family is reported with the log's checkpoint and false is returned; any
// other thrown object passes through.
template <class Body>
bool Guarded(const char* function, const tLogRec& log, Body&& body) {
  try {
    body();
    return true;
  } catch (const std::exception& fault) {
    ReportFault(tExceptionRec{}, function, log.Trace, fault);
    return false;
  }
}

// Counts a running routine in GlobalSettings.NestingCount for its lifetime.
class NestingScope {
 public:
  NestingScope() { ++GlobalSettings.NestingCount; }
  ~NestingScope() { --GlobalSettings.NestingCount; }
  NestingScope(const NestingScope&) = delete;
  NestingScope& operator=(const NestingScope&) = delete;
};

// Guarded for a routine that keeps checkpoints and counts in NestingCount:
// checkpoint 100, then the routine is counted until it leaves, so that it
// is still counted while the report of its fault is written.
template <class Body>
bool CountedGuarded(const char* function, tLogRec& log, Body&& body) {
  log.Trace = 100;
  NestingScope nesting;
  return Guarded(function, log, std::forward<Body>(body));
}

}  // namespace tov32
