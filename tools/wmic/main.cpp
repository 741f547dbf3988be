// A stand-in for the management command-line tool, built for both backends
// so that tests meet a tool that behaves like the real one. It answers the
// queries that the audit makes in the format the real tool writes through a
// pipe: a header line naming the property, the value line(s), a last empty
// line, every line padded with blanks and ended by CR CR LF. Like the real
// tool, it first reads its standard input to the end unless that is a
// console: a caller that leaves that input open waits for ever.
//
// The audit starts it four times, so it starts like a small C program: it
// uses no part of the C++ runtime, computes only the property asked for and
// writes its answer at once.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tov32/platform/bare_facts.h"

namespace {

namespace bare = tov32::platform::bare;

constexpr std::size_t kValueSize = 512;
constexpr std::size_t kMostValues = 256;

struct Answer {
  char values[kMostValues][kValueSize];
  std::size_t count;
};

Answer gAnswer;  // zero at the start, without any code run for it

// A single value is always one line, empty when the fact is unknown.
void Version(Answer& answer) {
  bare::OsVersion(answer.values[0], kValueSize);
  answer.count = 1;
}

void InstallDate(Answer& answer) {
  bare::InstallDate(answer.values[0], kValueSize);
  answer.count = 1;
}

// An unknown size is nothing, as the system says.
void TotalVisibleMemorySize(Answer& answer) {
  const unsigned long long kilobytes = bare::TotalVisibleMemoryKb();
  answer.count = 1;
  if (kilobytes > 0) std::snprintf(answer.values[0], kValueSize, "%llu", kilobytes);
}

void NumberOfCores(Answer& answer) {
  int counts[kMostValues];
  const std::size_t packages = bare::CoresPerPackage(counts, kMostValues);
  answer.count = packages < kMostValues ? packages : kMostValues;
  for (std::size_t i = 0; i < answer.count; ++i) std::snprintf(answer.values[i], kValueSize, "%d", counts[i]);
}

struct Property {
  const char* className;
  const char* name;    // as the caller writes it, lower case
  const char* header;  // as the tool capitalises it
  void (*compute)(Answer&);
};

constexpr Property kProperties[] = {
    {"os", "version", "Version", Version},
    {"os", "installdate", "InstallDate", InstallDate},
    {"os", "totalvisiblememorysize", "TotalVisibleMemorySize", TotalVisibleMemorySize},
    {"cpu", "numberofcores", "NumberOfCores", NumberOfCores},
};

bool EqualIgnoringAsciiCase(const char* text, const char* lowerCase) {
  for (; *text != '\0' && *lowerCase != '\0'; ++text, ++lowerCase) {
    const char byte = *text >= 'A' && *text <= 'Z' ? static_cast<char>(*text - 'A' + 'a') : *text;
    if (byte != *lowerCase) return false;
  }
  return *text == *lowerCase;
}

// Collects the answer's lines and hands them on in as few writes as fit.
class Output {
 public:
  ~Output() { Flush(); }
  void Line(const char* text, std::size_t width) {
    const std::size_t length = std::strlen(text);
    if (used_ + width + 3 > sizeof buffer_) Flush();
    std::memcpy(buffer_ + used_, text, length);
    std::memset(buffer_ + used_ + length, ' ', width - length);
    std::memcpy(buffer_ + used_ + width, "\r\r\n", 3);
    used_ += width + 3;
  }
  void Flush() {
    bare::WriteStandardOutput(buffer_, used_);
    used_ = 0;
  }

 private:
  char buffer_[kValueSize + 8] = {};
  std::size_t used_ = 0;
};

int Write(const Property& property, const Answer& answer) {
  std::size_t width = std::strlen(property.header);
  for (std::size_t i = 0; i < answer.count; ++i) width = std::max(width, std::strlen(answer.values[i]));
  width += 2;
  Output output;
  output.Line(property.header, width);
  for (std::size_t i = 0; i < answer.count; ++i) output.Line(answer.values[i], width);
  output.Line("", 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bare::DrainStandardInput();
  if (argc == 4 && std::strcmp(argv[2], "get") == 0) {
    for (const Property& property : kProperties) {
      if (EqualIgnoringAsciiCase(argv[1], property.className) && EqualIgnoringAsciiCase(argv[3], property.name)) {
        property.compute(gAnswer);
        return Write(property, gAnswer);
      }
    }
  }
  constexpr char kInvalid[] = "Node - localhost\r\r\nERROR:\r\r\nDescription = Invalid query\r\r\n\r\r\n";
  bare::WriteStandardOutput(kInvalid, sizeof kInvalid - 1);
  return 1;
}
