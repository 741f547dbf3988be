// The audit's standard output.
#include "audit/console_stream.h"

#include "tov32/faults/fault_records.h"

namespace norva {

using tov32::platform::StreamKind;

bool ConsoleStream::Open() {
  if (!opened_) {
    opened_ = true;
    kind_ = tov32::platform::Use<tov32::platform::Console>().StandardOutputKind();
  }
  if (kind_ == StreamKind::kNone || kind_ == StreamKind::kUnknown) {
    error_ = tov32::platform::kStreamNotOpen;
    return false;
  }
  return true;
}

// A failed hand-over discards the bytes that it carried.
void ConsoleStream::HandOver() {
  if (used_ == 0) return;
  const int code = tov32::platform::Use<tov32::platform::Console>().WriteStandardOutput(
      std::string_view(buffer_.data(), used_));
  used_ = 0;
  if (code != 0 && error_ == 0) error_ = code;
}

void ConsoleStream::Append(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t room = buffer_.size() - used_;
    const std::size_t taken = bytes.size() < room ? bytes.size() : room;
    bytes.copy(buffer_.data() + used_, taken);
    used_ += taken;
    bytes.remove_prefix(taken);
    if (used_ == buffer_.size()) HandOver();
  }
}

void ConsoleStream::CheckIo() {
  if (error_ == 0) return;
  const int code = error_;
  error_ = 0;
  throw tov32::EInOutError(code);
}

void ConsoleStream::Statement(std::string_view first, std::string_view second, std::string_view ending) {
  if (Open()) {
    Append(first);
    Append(second);
    Append(ending);
    if (kind_ == StreamKind::kCharacter) HandOver();
  }
  CheckIo();
}

void ConsoleStream::WriteStatement(std::string_view text) { Statement(text, {}, {}); }

void ConsoleStream::WriteLine(std::string_view text) { Statement(text, {}, "\r\n"); }

void ConsoleStream::WriteLine(std::string_view label, std::string_view value) { Statement(label, value, "\r\n"); }

void ConsoleStream::Close() {
  if (used_ > 0 && Open()) HandOver();
  CheckIo();
}

void ConsoleStream::CloseQuietly() noexcept {
  if (used_ > 0 && Open()) HandOver();
  error_ = 0;
}

}  // namespace norva
