// Win32 children through cmd.exe. The capture pipe is a named pipe whose
// read end, kept by this process, is opened for overlapped reads: a read
// waits on the pipe itself, with the time left to the deadline, and returns
// as soon as bytes arrive or every write end is closed. The child's write
// end is an ordinary synchronous handle.
#include "tov32/platform/process.h"

#include <string>
#include <vector>

#include "tov32/platform/clock.h"
#include "tov32/platform/win32/windows_support.h"

namespace tov32::platform {

const char* const kShellPrefix = "cmd.exe /C ";

namespace {

constexpr DWORD kPipeBufferBytes = 65536;

// The interpreter by its full path: without it the system would look for
// "cmd.exe" in the program's folder and the current directory first.
std::string SystemInterpreter() {
  char folder[MAX_PATH + 1] = {};
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return std::string();
  return std::string(folder, length) + "\\cmd.exe";
}

std::string UniquePipeName() {
  static LONG serial = 0;
  return "\\\\.\\pipe\\norva-capture-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(InterlockedIncrement(&serial));
}

SECURITY_ATTRIBUTES Inheritable() {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.bInheritHandle = TRUE;
  return attributes;
}

// A child's list of the only handles it may inherit.
class InheritanceList {
 public:
  explicit InheritanceList(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    list_ = list;
    if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                   handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      DeleteProcThreadAttributeList(list_);
      list_ = nullptr;
    }
  }
  ~InheritanceList() {
    if (list_ != nullptr) DeleteProcThreadAttributeList(list_);
  }
  InheritanceList(const InheritanceList&) = delete;
  InheritanceList& operator=(const InheritanceList&) = delete;

  LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return list_; }

 private:
  std::vector<HANDLE> handles_;
  std::vector<char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

DWORD MillisecondsLeft(std::int64_t deadlineMs) {
  const std::int64_t left = deadlineMs - Use<Clock>().SteadyMilliseconds();
  if (left <= 0) return 0;
  return left < INFINITE ? static_cast<DWORD>(left) : INFINITE - 1;
}

class Win32CapturePipe final : public CapturePipe {
 public:
  bool Create() {
    const std::string name = UniquePipeName();
    SECURITY_ATTRIBUTES inheritable = Inheritable();
    *readEnd_.Receive() = CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, kPipeBufferBytes, 0,
        nullptr);
    if (!readEnd_.Valid()) return false;
    *writeEnd_.Receive() = CreateFileA(name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, &inheritable,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    *readDone_.Receive() = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return writeEnd_.Valid() && readDone_.Valid();
  }

  bool StartChild(const std::string& commandLine, const std::string& directory) override {
    if (directory.empty() || !writeEnd_.Valid()) return false;
    const std::string interpreter = SystemInterpreter();
    SECURITY_ATTRIBUTES inheritable = Inheritable();
    ScopedHandle nothingToRead(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                           OPEN_EXISTING, 0, nullptr));
    if (interpreter.empty() || !nothingToRead.Valid()) return false;
    InheritanceList inherited({writeEnd_.Get(), nothingToRead.Get()});
    if (inherited.Get() == nullptr) return false;

    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = nothingToRead.Get();
    startup.StartupInfo.hStdOutput = writeEnd_.Get();
    startup.StartupInfo.hStdError = writeEnd_.Get();
    startup.lpAttributeList = inherited.Get();
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(interpreter.c_str(), line.data(), nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT,
                        nullptr, directory.c_str(), &startup.StartupInfo, &child)) {
      return false;
    }
    *process_.Receive() = child.hProcess;
    *thread_.Receive() = child.hThread;
    return true;
  }

  void CloseWriteEnd() override { writeEnd_.Reset(); }

  ReadResult Read(char* buffer, std::size_t capacity, std::int64_t deadlineMs) override {
    for (;;) {
      OVERLAPPED overlapped{};
      overlapped.hEvent = readDone_.Get();
      bool timedOut = false;
      if (!ReadFile(readEnd_.Get(), buffer, static_cast<DWORD>(capacity), nullptr, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) return {ReadStatus::kEnded, 0};  // every write end is closed
        if (WaitForSingleObject(readDone_.Get(), MillisecondsLeft(deadlineMs)) != WAIT_OBJECT_0) {
          CancelIoEx(readEnd_.Get(), &overlapped);
          timedOut = true;
        }
      }
      // Waits for a cancelled read to end too: bytes that came first are kept.
      DWORD count = 0;
      const bool completed = GetOverlappedResult(readEnd_.Get(), &overlapped, &count, TRUE) != 0;
      if (completed && count > 0) return {ReadStatus::kData, count};
      if (timedOut) return {ReadStatus::kTimedOut, 0};
      if (!completed) return {ReadStatus::kEnded, 0};
      // A write of no bytes completed the read: wait for the next one.
    }
  }

  void ReleaseChild() override {
    process_.Reset();
    thread_.Reset();
  }

 private:
  ScopedHandle readEnd_;
  ScopedHandle writeEnd_;
  ScopedHandle readDone_;
  ScopedHandle process_;
  ScopedHandle thread_;
};

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string Variable(const char* name, const char* fallback) {
  const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
  if (size == 0) return fallback;
  std::string value(size, '\0');
  value.resize(GetEnvironmentVariableA(name, value.data(), size));
  return value;
}

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> parts;
  for (std::size_t start = 0; start <= list.size();) {
    std::size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) parts.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// As cmd.exe looks: the name as given when it has an extension, else with
// each extension of PATHEXT.
bool FoundIn(const std::string& folder, const std::string& program, const std::vector<std::string>& extensions) {
  std::string base = folder;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
  base += program;
  if (program.find('.') != std::string::npos && IsFile(base)) return true;
  for (const std::string& extension : extensions) {
    if (IsFile(base + extension)) return true;
  }
  return false;
}

bool IsSeparator(char byte) { return byte == '\\' || byte == '/'; }

// Where cmd.exe, running in `directory`, finds a PATH entry: a relative
// entry is taken from `directory`, a rooted one from its drive.
std::string InDirectory(const std::string& directory, const std::string& entry) {
  const bool hasDrive = entry.size() >= 2 && entry[1] == ':';
  const bool unc = entry.size() >= 2 && IsSeparator(entry[0]) && IsSeparator(entry[1]);
  if (hasDrive || unc || directory.empty()) return entry;
  if (IsSeparator(entry[0])) {
    return directory.size() >= 2 && directory[1] == ':' ? directory.substr(0, 2) + entry : entry;
  }
  return directory + (IsSeparator(directory.back()) ? "" : "\\") + entry;
}

class Win32Processes final : public Processes {
 public:
  std::unique_ptr<CapturePipe> CreatePipe() override {
    auto pipe = std::make_unique<Win32CapturePipe>();
    if (!pipe->Create()) return nullptr;
    return pipe;
  }

  void YieldTimeSlice() override { Sleep(0); }

  std::int64_t CaptureDeadlineMs() override { return kCaptureDeadlineMs; }
  std::size_t CaptureLimitBytes() override { return kCaptureLimitBytes; }

  bool CanFindProgram(const std::string& program, const std::string& directory) override {
    const std::vector<std::string> extensions = Split(Variable("PATHEXT", ".COM;.EXE;.BAT;.CMD"));
    if (!directory.empty() && FoundIn(directory, program, extensions)) return true;
    for (const std::string& folder : Split(Variable("PATH", ""))) {
      if (FoundIn(InDirectory(directory, folder), program, extensions)) return true;
    }
    return false;
  }
};

}  // namespace

template <>
Processes& Native<Processes>() {
  static Win32Processes processes;
  return processes;
}

}  // namespace tov32::platform
