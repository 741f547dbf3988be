// Win32 children through cmd.exe. An anonymous pipe cannot be waited on
// with a timeout, so a read first asks PeekNamedPipe whether bytes are there
// and only then reads: a read never blocks past the deadline.
#include "tov32/platform/process.h"

#include <vector>

#include "tov32/platform/clock.h"
#include "tov32/platform/win32/windows_support.h"

namespace tov32::platform {

const char* const kShellPrefix = "cmd.exe /C ";

namespace {

class Win32CapturePipe final : public CapturePipe {
 public:
  bool Create() {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = TRUE;
    // The read end stays with this process: a child holding it too would keep
    // the pipe open, and one flooding past the deadline would block forever
    // instead of failing once this side is gone.
    return CreatePipe(readEnd_.Receive(), writeEnd_.Receive(), &attributes, 0) != 0 &&
           SetHandleInformation(readEnd_.Get(), HANDLE_FLAG_INHERIT, 0) != 0;
  }

  bool StartChild(const std::string& commandLine, const std::string& directory) override {
    if (directory.empty() || !writeEnd_.Valid()) return false;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd_.Get();
    startup.hStdError = writeEnd_.Get();
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, directory.c_str(), &startup,
                        &child)) {
      return false;
    }
    *process_.Receive() = child.hProcess;
    *thread_.Receive() = child.hThread;
    return true;
  }

  void CloseWriteEnd() override { writeEnd_.Reset(); }

  ReadResult Read(char* buffer, std::size_t capacity, std::int64_t deadlineMs) override {
    Clock& clock = Use<Clock>();
    for (;;) {
      DWORD available = 0;
      if (!PeekNamedPipe(readEnd_.Get(), nullptr, 0, nullptr, &available, nullptr)) return {ReadStatus::kEnded, 0};
      if (available > 0) {
        DWORD count = 0;
        const DWORD wanted = available < capacity ? available : static_cast<DWORD>(capacity);
        if (!ReadFile(readEnd_.Get(), buffer, wanted, &count, nullptr)) return {ReadStatus::kEnded, 0};
        return {ReadStatus::kData, count};
      }
      if (clock.SteadyMilliseconds() >= deadlineMs) return {ReadStatus::kTimedOut, 0};
      Sleep(1);
    }
  }

  void ReleaseChild() override {
    process_.Reset();
    thread_.Reset();
  }

 private:
  ScopedHandle readEnd_;
  ScopedHandle writeEnd_;
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

class Win32Processes final : public Processes {
 public:
  std::unique_ptr<CapturePipe> CreatePipe() override {
    auto pipe = std::make_unique<Win32CapturePipe>();
    if (!pipe->Create()) return nullptr;
    return pipe;
  }

  void YieldTimeSlice() override { Sleep(0); }

  std::int64_t CaptureDeadlineMs() override { return 40000; }

  bool CanFindProgram(const std::string& program, const std::string& directory) override {
    const std::vector<std::string> extensions = Split(Variable("PATHEXT", ".COM;.EXE;.BAT;.CMD"));
    if (!directory.empty() && FoundIn(directory, program, extensions)) return true;
    for (const std::string& folder : Split(Variable("PATH", ""))) {
      if (FoundIn(folder, program, extensions)) return true;
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
