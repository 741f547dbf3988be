// Management queries.
#include "tov32/probes/wmic_query.h"

#include "tov32/platform/process.h"
#include "tov32/platform/system_facts.h"
#include "tov32/probes/dos_output.h"
#include "tov32/probes/host.h"
#include "tov32/text/between.h"
#include "tov32/text/formatting.h"

namespace tov32 {
namespace {

constexpr const char* kTool = "wmic";

// Some builds of the tool write UTF-16LE with a byte-order mark.
std::string AsEightBit(std::string output) {
  if (output.compare(0, 2, "\xFF\xFE") != 0) return output;
  return platform::Utf16LeToAnsi(std::string_view(output).substr(2));
}

std::string JoinLines(const std::vector<int>& counts) {
  std::string lines;
  for (int count : counts) lines += (lines.empty() ? "" : "\r\n") + IntToText(count);
  return lines;
}

std::string DirectOSValue(const std::string& property) {
  platform::SystemFacts& facts = platform::Use<platform::SystemFacts>();
  const std::string name = LowerAscii(property);
  if (name == "version") return facts.OsVersion();
  if (name == "installdate") return facts.InstallDate();
  if (name == "totalvisiblememorysize") {
    const std::uint64_t kilobytes = facts.TotalVisibleMemoryKb();
    return kilobytes == 0 ? std::string() : std::to_string(kilobytes);
  }
  return std::string();
}

std::string DirectCPUValue(const std::string& property) {
  if (LowerAscii(property) != "numberofcores") return std::string();
  return JoinLines(platform::Use<platform::SystemFacts>().CoresPerPackage());
}

// Whether the tool can be run from `directory`. A fault while looking (out
// of memory, say) is no reason to skip the tool: it is then run, as the
// query always ran it.
bool ToolCanRun(const std::string& directory) {
  try {
    return platform::Use<platform::Processes>().CanFindProgram(kTool, directory);
  } catch (const std::exception&) {
    return true;
  }
}

struct Query {
  const char* command;
  bool errorMeansEmpty;
  std::string (*direct)(const std::string&);
};

std::string Run(const Query& query, const std::string& Property) {
  const std::string directory = GetEXEPath("");
  if (!ToolCanRun(directory)) {
    return TrimBlanks(query.direct(Property));
  }
  std::string output = AsEightBit(GetDosOutput(query.command + Property, directory));
  if (query.errorMeansEmpty && TextPos("ERROR", output) > 0) return std::string();
  // At most two copies of a large output live at once.
  const std::string value = Between(output, "\r\n", "");
  std::string().swap(output);
  return TrimBlanks(value);
}

}  // namespace

std::string GetWmicOSValue(const std::string& Property) {
  return Run({"wmic os get ", false, DirectOSValue}, Property);
}

std::string GetWmicCPUValue(const std::string& Property) {
  return Run({"wmic cpu get ", true, DirectCPUValue}, Property);
}

}  // namespace tov32
