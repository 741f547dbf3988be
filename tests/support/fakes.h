// Fakes for the platform layer. Each one answers what a test sets and hands
// everything else to the native backend.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tov32/faults/fault_records.h"
#include "tov32/platform/clock.h"
#include "tov32/platform/console.h"
#include "tov32/platform/files.h"
#include "tov32/platform/locale.h"
#include "tov32/platform/machine.h"
#include "tov32/platform/net.h"
#include "tov32/platform/process.h"
#include "tov32/platform/registry.h"
#include "tov32/platform/system_facts.h"

namespace norva_test {

namespace platform = tov32::platform;

class FakeClock : public platform::Clock {
 public:
  platform::CivilTime local;
  std::int64_t steady = 1000;
  std::int64_t steadyStep = 0;  // added after every steady reading
  std::uint64_t ticks = 0;

  platform::CivilTime LocalTime() override { return local; }
  std::int64_t SteadyMilliseconds() override {
    const std::int64_t now = steady;
    steady += steadyStep;
    return now;
  }
  std::uint64_t TickCount64() override { return ticks; }
};

class FakeLocale : public platform::Locale {
 public:
  platform::RegionalSeparators separators;
  platform::RegionalSeparators ReadSeparators() override { return separators; }
};

// Records tones instead of sounding them; the rest is what the machine in
// force at its construction answers, unless set.
class FakeMachine : public platform::Machine {
 public:
  FakeMachine() : fallback_(platform::Use<platform::Machine>()) {}
  std::optional<std::optional<std::string>> computerName;
  std::optional<std::string> moduleFileName;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> tones;

  std::optional<std::string> ComputerName() override;
  std::string ModuleFileName() override;
  void Beep(std::uint32_t frequencyHz, std::uint32_t durationMs) override;

 private:
  platform::Machine& fallback_;
};

// A registry of keys and values; remembers which keys were asked for.
class FakeRegistry : public platform::Registry {
 public:
  std::map<std::string, std::map<std::string, platform::RegistryValue>> keys;
  std::vector<std::string> opened;

  void SetText(const std::string& key, const std::string& name, const std::string& text);
  std::unique_ptr<platform::RegistryKey> OpenLocalMachineKey(const std::string& subKey) override;
};

class FakeFiles : public platform::Files {
 public:
  std::function<platform::SearchResult(const std::string&)> search;
  std::function<platform::SearchResult(const std::string&)> entry;
  std::function<bool(const std::string&)> remove;

  platform::SearchResult Search(const std::string& pattern) override;
  platform::SearchResult Entry(const std::string& path) override;
  bool Delete(const std::string& path) override;
  std::unique_ptr<platform::WritableFile> Create(const std::string& path) override;
  platform::NewFile CreateNew(const std::string& path) override;
  std::unique_ptr<platform::WritableFile> OpenForAppend(const std::string& path) override;
};

class FakeProcesses : public platform::Processes {
 public:
  // When set, no process starts: a child "writes" what this gives for its
  // command line.
  std::function<std::string(const std::string& commandLine)> script;
  std::vector<std::pair<std::string, std::string>> started;  // command line, directory
  std::optional<std::int64_t> deadlineMs;
  std::optional<std::size_t> limitBytes;
  std::optional<bool> programFound;
  std::vector<std::string> lookedFor;
  int pipesCreated = 0;

  std::unique_ptr<platform::CapturePipe> CreatePipe() override;
  void YieldTimeSlice() override;
  std::int64_t CaptureDeadlineMs() override;
  std::size_t CaptureLimitBytes() override;
  bool CanFindProgram(const std::string& program, const std::string& directory) override;
};

class FakeNetwork : public platform::Network {
 public:
  int socketsOpened = 0;

  std::optional<std::uint32_t> ResolveIPv4(const std::string& host) override;
  std::unique_ptr<platform::UdpSocket> OpenUdpSocket() override;
};

// Standard output into a string; a write fails with `failCode` once
// `failAfterBytes` bytes have been taken.
class FakeConsole : public platform::Console {
 public:
  platform::StreamKind kind = platform::StreamKind::kDisk;
  std::string output;
  std::string error;
  std::vector<std::size_t> handOvers;  // sizes of the writes, in order
  std::optional<std::size_t> failAfterBytes;
  int failCode = 28;

  platform::StreamKind StandardOutputKind() override { return kind; }
  int WriteStandardOutput(std::string_view bytes) override;
  void WriteStandardError(std::string_view bytes) override { error.append(bytes); }
  std::string ToOemCodePage(const std::string& text) override { return text; }
};

class FakeSystemFacts : public platform::SystemFacts {
 public:
  std::string version = "10.0.19045";
  std::string installDate = "20210107140509.000000+060";
  std::uint64_t memoryKb = 16633492;
  std::vector<int> cores = {4};

  std::string OsVersion() override { return version; }
  std::string InstallDate() override { return installDate; }
  std::uint64_t TotalVisibleMemoryKb() override { return memoryKb; }
  std::vector<int> CoresPerPackage() override { return cores; }
};

// Collects every record handed to the report writer while it lives.
class ReportRecorder {
 public:
  ReportRecorder();
  ~ReportRecorder();
  ReportRecorder(const ReportRecorder&) = delete;
  ReportRecorder& operator=(const ReportRecorder&) = delete;
  const std::vector<tov32::tExceptionRec>& records() const;
};

// The program's directory as the machine in force reports it, with its
// closing delimiter: a scratch directory of this test process.
std::string ProgramDirectory();

// Paths of the exception report files in the program's directory.
std::vector<std::string> ReportFiles();
void RemoveReportFiles();
std::string ReadFile(const std::string& path);

}  // namespace norva_test
