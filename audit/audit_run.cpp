// The audit run.
#include "audit/audit_run.h"

#include <limits>

#include "tov32/platform/clock.h"
#include "tov32/probes/host.h"
#include "tov32/probes/up_time.h"
#include "tov32/probes/wmic_query.h"
#include "tov32/text/formatting.h"

namespace norva {
namespace {

constexpr const char* kBanner = "NORVA Audit v2021.1.7.857";
constexpr const char* kVersion = "2021.1.7.857";

struct AuditValues {
  std::string VersionText;
  std::string HostNameText;
  std::string UpTimeText;
  std::string MemorySizeText;
  std::string InstallDateText;
  std::string OSVersionText;
  std::int32_t CoreCount = 1;
};

void WriteReport(ConsoleStream& out, const AuditValues& values) {
  out.WriteLine("Version: ", values.VersionText);
  out.WriteLine("Host Name: ", values.HostNameText);
  out.WriteLine("Machine Up Time: ", values.UpTimeText);
  out.WriteLine("OS Install Date: ", values.InstallDateText);
  out.WriteLine("OS Version: ", values.OSVersionText);
  out.WriteLine("Total Visible Memory Size: ", values.MemorySizeText);
  out.WriteLine("Number of Cores: ", tov32::IntToText(values.CoreCount));
}

}  // namespace

std::int32_t CoreCountOf(const std::string& coreText) {
  std::int64_t sum = 0;
  int lines = 0;
  for (std::size_t start = 0; start <= coreText.size(); ++lines) {
    std::size_t end = coreText.find('\n', start);
    if (end == std::string::npos) end = coreText.size();
    std::int32_t count = 0;
    // A line that is no count of zero or more makes the whole text invalid.
    if (!tov32::TextToInt(tov32::TrimBlanks(coreText.substr(start, end - start)), count) || count < 0) {
      return tov32::TextToIntDef(coreText, 1);
    }
    sum += count;
    start = end + 1;
  }
  if (lines < 2 || sum > std::numeric_limits<std::int32_t>::max()) return tov32::TextToIntDef(coreText, 1);
  return static_cast<std::int32_t>(sum);
}

void RunAudit(ConsoleStream& out) {
  tov32::platform::Clock& clock = tov32::platform::Use<tov32::platform::Clock>();
  const std::int64_t AuditStart = clock.SteadyMilliseconds();
  AuditValues values;
  out.WriteLine(kBanner);
  out.WriteStatement(".");
  values.VersionText = kVersion;
  out.WriteStatement(".");
  values.HostNameText = tov32::GetHostName();
  out.WriteStatement(".");
  values.UpTimeText = tov32::MachineUpTime().UpTimeStr;
  out.WriteStatement(".");
  values.MemorySizeText = tov32::GetWmicOSValue("totalvisiblememorysize");
  out.WriteStatement(".");
  values.InstallDateText = tov32::GetWmicOSValue("installdate");
  out.WriteStatement(".");
  values.OSVersionText = tov32::GetWmicOSValue("version");
  out.WriteStatement(".");
  values.CoreCount = CoreCountOf(tov32::GetWmicCPUValue("numberofcores"));
  out.WriteLine(".");
  WriteReport(out, values);
  const std::int64_t elapsed = clock.SteadyMilliseconds() - AuditStart;
  out.WriteLine("Duration: " + tov32::FormatNumber("#,##0", static_cast<double>(elapsed)) + "ms");
}

}  // namespace norva
