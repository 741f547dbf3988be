// The management queries' cutting of the tool's output, whatever the tool
// writes and however the pipe splits it: the text after the header line,
// trimmed, and for processor queries nothing when "ERROR" occurs.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "tov32/platform/process.h"
#include "tov32/platform/system_facts.h"
#include "tov32/probes/wmic_query.h"

namespace platform = tov32::platform;

namespace {

class ScriptedPipe : public platform::CapturePipe {
 public:
  ScriptedPipe(std::string output, std::size_t chunk) : output_(std::move(output)), chunk_(chunk) {}
  bool StartChild(const std::string&, const std::string&) override { return true; }
  void CloseWriteEnd() override {}
  platform::ReadResult Read(char* buffer, std::size_t capacity, std::int64_t) override {
    const std::size_t count = std::min({capacity, chunk_, output_.size() - position_});
    output_.copy(buffer, count, position_);
    position_ += count;
    return {count > 0 ? platform::ReadStatus::kData : platform::ReadStatus::kEnded, count};
  }
  void ReleaseChild() override {}

 private:
  std::string output_;
  std::size_t chunk_;
  std::size_t position_ = 0;
};

class ScriptedTool : public platform::Processes {
 public:
  std::string output;
  std::size_t chunk = 1;
  std::unique_ptr<platform::CapturePipe> CreatePipe() override { return std::make_unique<ScriptedPipe>(output, chunk); }
  void YieldTimeSlice() override {}
  std::int64_t CaptureDeadlineMs() override { return platform::kCaptureDeadlineMs; }
  std::size_t CaptureLimitBytes() override { return platform::kCaptureLimitBytes; }
  bool CanFindProgram(const std::string&, const std::string&) override { return true; }
};

bool IsBlank(char byte) { return static_cast<unsigned char>(byte) <= 32; }

std::string Model(std::string output, bool processorQuery) {
  if (output.rfind("\xFF\xFE", 0) == 0) output = platform::Utf16LeToAnsi(output.substr(2));
  if (processorQuery && output.find("ERROR") != std::string::npos) return std::string();
  const std::size_t header = output.find("\r\n");
  if (header == std::string::npos) return std::string();
  std::string value = output.substr(header + 2);
  const auto first = std::find_if_not(value.begin(), value.end(), IsBlank);
  const auto last = std::find_if_not(value.rbegin(), value.rend(), IsBlank).base();
  return first < last ? std::string(first, last) : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  ScriptedTool tool;
  const bool processorQuery = input.ConsumeBool();
  tool.chunk = input.ConsumeIntegralInRange<std::size_t>(1, 300);
  tool.output = input.ConsumeRemainingBytesAsString();
  platform::ScopedReplacement<platform::Processes> replacement(tool);
  const std::string got =
      processorQuery ? tov32::GetWmicCPUValue("numberofcores") : tov32::GetWmicOSValue("version");
  norva_fuzz::Check(got == Model(tool.output, processorQuery), "value", got, Model(tool.output, processorQuery));
  return 0;
}
