// The console stream under any run of statements, stream kind and failing
// hand-over: every byte not lost to a failure arrives in order, hand-overs
// never exceed the buffer, a console gets each statement at once, and a
// failure is reported by the very call during which it happened.
#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "audit/console_stream.h"
#include "fuzz/fuzz_check.h"
#include "tov32/faults/fault_records.h"

namespace platform = tov32::platform;

namespace {

class RecordingConsole : public platform::Console {
 public:
  platform::StreamKind kind = platform::StreamKind::kDisk;
  std::size_t failingHandOver = SIZE_MAX;  // index of the hand-over that fails
  std::vector<std::string> handOvers;
  std::string delivered;
  bool failed = false;

  platform::StreamKind StandardOutputKind() override { return kind; }
  int WriteStandardOutput(std::string_view bytes) override {
    handOvers.emplace_back(bytes);
    if (handOvers.size() - 1 == failingHandOver) {
      failed = true;
      return 112;
    }
    delivered.append(bytes);
    return 0;
  }
  void WriteStandardError(std::string_view) override {}
  std::string ToOemCodePage(const std::string& text) override { return text; }
};

// Runs one call and checks that it throws exactly when a hand-over failed.
template <class Call>
void Expect(RecordingConsole& console, Call call) {
  console.failed = false;
  bool thrown = false;
  try {
    call();
  } catch (const tov32::EInOutError& error) {
    thrown = true;
    norva_fuzz::Check(error.ErrorCode() == 112, "error code", std::to_string(error.ErrorCode()));
  }
  norva_fuzz::Check(thrown == console.failed, "failure reported by the call that met it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  RecordingConsole console;
  console.kind = input.ConsumeBool() ? platform::StreamKind::kCharacter : platform::StreamKind::kPipe;
  if (input.ConsumeBool()) console.failingHandOver = input.ConsumeIntegralInRange<std::size_t>(0, 20);
  platform::ScopedReplacement<platform::Console> replacement(console);
  norva::ConsoleStream stream;
  std::string written;
  while (input.remaining_bytes() > 0) {
    const bool line = input.ConsumeBool();
    const std::string text = input.ConsumeRandomLengthString(400);
    written += text + (line ? "\r\n" : "");
    Expect(console, [&] { line ? stream.WriteLine(text) : stream.WriteStatement(text); });
    if (console.kind == platform::StreamKind::kCharacter && console.failingHandOver == SIZE_MAX) {
      norva_fuzz::Check(console.delivered == written, "console gets each statement at once");
    }
  }
  Expect(console, [&] { stream.Close(); });
  std::string handed;
  for (const std::string& bytes : console.handOvers) {
    norva_fuzz::Check(!bytes.empty() && bytes.size() <= norva::ConsoleStream::kBufferSize, "hand-over size");
    handed += bytes;
  }
  norva_fuzz::Check(handed == written, "bytes in order", handed, written);
  if (console.failingHandOver != SIZE_MAX) return 0;
  norva_fuzz::Check(console.delivered == written, "delivered");
  if (console.kind == platform::StreamKind::kPipe) {
    for (std::size_t i = 0; i + 1 < console.handOvers.size(); ++i) {
      norva_fuzz::Check(console.handOvers[i].size() == norva::ConsoleStream::kBufferSize, "a pipe gets full buffers");
    }
  }
  return 0;
}
