// Fakes for the platform layer.
#include "tests/support/fakes.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/alloc_fault.h"
#include "tov32/faults/exception_report.h"
#include "tov32/text/formatting.h"

namespace norva_test {

std::optional<std::string> FakeMachine::ComputerName() {
  return computerName ? *computerName : fallback_.ComputerName();
}

std::string FakeMachine::ModuleFileName() {
  return moduleFileName ? *moduleFileName : fallback_.ModuleFileName();
}

void FakeMachine::Beep(std::uint32_t frequencyHz, std::uint32_t durationMs) {
  tones.emplace_back(frequencyHz, durationMs);
}

namespace {

class FakeKey : public platform::RegistryKey {
 public:
  explicit FakeKey(const std::map<std::string, platform::RegistryValue>& values) : values_(values) {}
  std::optional<platform::RegistryValue> QueryValue(const std::string& name) override {
    const auto found = values_.find(name);
    if (found == values_.end()) return std::nullopt;
    return found->second;
  }

 private:
  std::map<std::string, platform::RegistryValue> values_;
};

}  // namespace

void FakeRegistry::SetText(const std::string& key, const std::string& name, const std::string& text) {
  keys[key][name] = platform::RegistryValue{platform::kRegSz, text + std::string(1, '\0'), true};
}

std::unique_ptr<platform::RegistryKey> FakeRegistry::OpenLocalMachineKey(const std::string& subKey) {
  opened.push_back(subKey);
  const auto found = keys.find(subKey);
  if (found == keys.end()) return nullptr;
  return std::make_unique<FakeKey>(found->second);
}

platform::SearchResult FakeFiles::Search(const std::string& pattern) {
  return search ? search(pattern) : platform::Native<platform::Files>().Search(pattern);
}

platform::SearchResult FakeFiles::Entry(const std::string& path) {
  return entry ? entry(path) : platform::Native<platform::Files>().Entry(path);
}

bool FakeFiles::Delete(const std::string& path) {
  return remove ? remove(path) : platform::Native<platform::Files>().Delete(path);
}

std::unique_ptr<platform::WritableFile> FakeFiles::Create(const std::string& path) {
  return platform::Native<platform::Files>().Create(path);
}

platform::NewFile FakeFiles::CreateNew(const std::string& path) {
  return platform::Native<platform::Files>().CreateNew(path);
}

std::unique_ptr<platform::WritableFile> FakeFiles::OpenForAppend(const std::string& path) {
  return platform::Native<platform::Files>().OpenForAppend(path);
}

namespace {

class ScriptedPipe : public platform::CapturePipe {
 public:
  ScriptedPipe(const std::function<std::string(const std::string&)>& script,
               std::vector<std::pair<std::string, std::string>>& started)
      : script_(script), started_(started) {}
  bool StartChild(const std::string& commandLine, const std::string& directory) override {
    started_.emplace_back(commandLine, directory);
    output_ = script_(commandLine);
    return true;
  }
  void CloseWriteEnd() override {}
  platform::ReadResult Read(char* buffer, std::size_t capacity, std::int64_t) override {
    const std::size_t count = std::min(capacity, output_.size() - position_);
    output_.copy(buffer, count, position_);
    position_ += count;
    return {count > 0 ? platform::ReadStatus::kData : platform::ReadStatus::kEnded, count};
  }
  void ReleaseChild() override {}

 private:
  const std::function<std::string(const std::string&)>& script_;
  std::string output_;
  std::size_t position_ = 0;
  std::vector<std::pair<std::string, std::string>>& started_;
};

}  // namespace

std::unique_ptr<platform::CapturePipe> FakeProcesses::CreatePipe() {
  ++pipesCreated;
  if (script) return std::make_unique<ScriptedPipe>(script, started);
  return platform::Native<platform::Processes>().CreatePipe();
}

void FakeProcesses::YieldTimeSlice() { platform::Native<platform::Processes>().YieldTimeSlice(); }

std::int64_t FakeProcesses::CaptureDeadlineMs() {
  return deadlineMs ? *deadlineMs : platform::Native<platform::Processes>().CaptureDeadlineMs();
}

std::size_t FakeProcesses::CaptureLimitBytes() {
  return limitBytes ? *limitBytes : platform::Native<platform::Processes>().CaptureLimitBytes();
}

bool FakeProcesses::CanFindProgram(const std::string& program, const std::string& directory) {
  lookedFor.push_back(program);
  return programFound ? *programFound : platform::Native<platform::Processes>().CanFindProgram(program, directory);
}

std::optional<std::uint32_t> FakeNetwork::ResolveIPv4(const std::string& host) {
  return platform::Native<platform::Network>().ResolveIPv4(host);
}

std::unique_ptr<platform::UdpSocket> FakeNetwork::OpenUdpSocket() {
  ++socketsOpened;
  return platform::Native<platform::Network>().OpenUdpSocket();
}

int FakeConsole::WriteStandardOutput(std::string_view bytes) {
  handOvers.push_back(bytes.size());
  if (failAfterBytes && output.size() + bytes.size() > *failAfterBytes) return failCode;
  output.append(bytes);
  return 0;
}

namespace {

std::vector<tov32::tExceptionRec> gRecorded;

void Record(const tov32::tExceptionRec& record) {
  AllocationFaultPause pause;
  gRecorded.push_back(record);
}

}  // namespace

ReportRecorder::ReportRecorder() {
  gRecorded.clear();
  tov32::SetReportObserver(Record);
}

ReportRecorder::~ReportRecorder() {
  tov32::SetReportObserver(nullptr);
  gRecorded.clear();
}

const std::vector<tov32::tExceptionRec>& ReportRecorder::records() const { return gRecorded; }

std::string ProgramDirectory() {
  return tov32::PathDirPart(platform::Use<platform::Machine>().ModuleFileName());
}

std::vector<std::string> ReportFiles() {
  std::vector<std::string> reports;
  for (const auto& entry : std::filesystem::directory_iterator(ProgramDirectory())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("EXCEPTION-", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".XML") == 0) {
      reports.push_back(entry.path().string());
    }
  }
  return reports;
}

void RemoveReportFiles() {
  for (const std::string& report : ReportFiles()) std::filesystem::remove(report);
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace norva_test

#include "tests/support/child.h"

namespace norva_test {

std::string ChildCommand(const std::string& behaviour, const std::string& argument) {
  return platform::Native<platform::Machine>().ModuleFileName() + " --capture-child " + behaviour + " " + argument;
}

}  // namespace norva_test
