// A stand-in for the management command-line tool, built for both backends
// so that tests meet a tool that behaves like the real one. It answers the
// queries that the audit makes in the format the real tool writes through a
// pipe: a header line naming the property, the value line(s), a last empty
// line, every line padded with blanks and ended by CR CR LF. Like the real
// tool, it first reads its standard input to the end unless that is a
// console: a caller that leaves that input open waits for ever.
#include <cstdio>
#include <string>
#include <vector>

#include "tov32/platform/console.h"
#include "tov32/platform/system_facts.h"
#include "tov32/text/formatting.h"

namespace {

struct Property {
  const char* className;
  const char* name;     // as the caller writes it, lower case
  const char* header;   // as the tool capitalises it
};

constexpr Property kProperties[] = {
    {"os", "version", "Version"},
    {"os", "installdate", "InstallDate"},
    {"os", "totalvisiblememorysize", "TotalVisibleMemorySize"},
    {"cpu", "numberofcores", "NumberOfCores"},
};

std::vector<std::string> Values(const std::string& name) {
  tov32::platform::SystemFacts& facts = tov32::platform::Native<tov32::platform::SystemFacts>();
  if (name == "version") return {facts.OsVersion()};
  if (name == "installdate") return {facts.InstallDate()};
  if (name == "totalvisiblememorysize") {
    const std::uint64_t kilobytes = facts.TotalVisibleMemoryKb();
    return {kilobytes == 0 ? std::string() : std::to_string(kilobytes)};  // unknown: nothing, as the system says
  }
  std::vector<std::string> cores;
  for (int count : facts.CoresPerPackage()) cores.push_back(std::to_string(count));
  return cores;
}

// Bytes as they are, without the C runtime's text-mode line ends.
void Write(const std::string& bytes) { tov32::platform::Native<tov32::platform::Console>().WriteStandardOutput(bytes); }

void WritePadded(const std::string& text, std::size_t width) {
  Write(text + std::string(width - text.size(), ' ') + "\r\r\n");
}

void ReadInputToItsEnd() {
  if (tov32::platform::StandardInputIsConsole()) return;
  char buffer[4096];
  while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
  }
}

int Answer(const Property& property) {
  const std::vector<std::string> values = Values(property.name);
  std::size_t width = std::string(property.header).size();
  for (const std::string& value : values) width = value.size() > width ? value.size() : width;
  width += 2;
  WritePadded(property.header, width);
  for (const std::string& value : values) WritePadded(value, width);
  Write("\r\r\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ReadInputToItsEnd();
  if (argc == 4 && std::string(argv[2]) == "get") {
    const std::string className = tov32::LowerAscii(argv[1]);
    const std::string name = tov32::LowerAscii(argv[3]);
    for (const Property& property : kProperties) {
      if (className == property.className && name == property.name) return Answer(property);
    }
  }
  Write("Node - localhost\r\r\nERROR:\r\r\nDescription = Invalid query\r\r\n\r\r\n");
  return 1;
}
