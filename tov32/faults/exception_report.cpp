// The exception report writer.
#include "tov32/faults/exception_report.h"

#include "tov32/faults/syslog.h"
#include "tov32/faults/text_file.h"
#include "tov32/platform/machine.h"
#include "tov32/probes/host.h"
#include "tov32/probes/up_time.h"
#include "tov32/text/formatting.h"

namespace tov32 {
namespace {

int gReportDepth = 0;
ReportObserver gObserver = nullptr;

class DepthScope {
 public:
  DepthScope() { ++gReportDepth; }
  ~DepthScope() { --gReportDepth; }
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;
};

// Counts the writer in NestingCount from the moment it is armed until the
// call leaves, after its own fault handler too.
class LateNestingScope {
 public:
  void Arm() {
    ++GlobalSettings.NestingCount;
    armed_ = true;
  }
  ~LateNestingScope() {
    if (armed_) --GlobalSettings.NestingCount;
  }

 private:
  bool armed_ = false;
};

std::string EscapeXml(const std::string& value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (char byte : value) {
    switch (byte) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      default: escaped += byte;
    }
  }
  return escaped;
}

void AppendElement(std::string& text, const char* name, const std::string& value) {
  text.append("<").append(name).append(">").append(EscapeXml(value)).append("</").append(name).append(">\r\n");
}

void PostNotice(const tExceptionRec& rec) {
  tSyslogRec notice;
  notice.Msg = "EXCEPTION! Function=" + rec.Function + ", Trace=" + IntToText(rec.Trace);
  notice.Code = 0;
  notice.Source = "tov32.SaveExceptionRecAsXML";
  PostSyslogMsg(notice);
}

std::string ReportText(const tExceptionRec& rec, tLogRec& log) {
  std::string text = "<xml>\r\n";
  log.Trace = 230;
  text += "<Exception>\r\n";
  log.Trace = 300;
  AppendElement(text, "DateTime", FormatDayTime("YYYY-MM-DD HH:NN:SS.ZZZ", LocalNow()));
  log.Trace = 305;
  AppendElement(text, "MachineUpTime", MachineUpTime().UpTimeStr);
  log.Trace = 310;
  AppendElement(text, "SelfName", GlobalSettings.SelfName);
  log.Trace = 315;
  AppendElement(text, "Version", GlobalSettings.Version);
  log.Trace = 320;
  AppendElement(text, "Function", rec.Function);
  AppendElement(text, "CallingFunction", rec.CallingFunction);
  log.Trace = 325;
  AppendElement(text, "Trace", IntToText(rec.Trace));
  log.Trace = 330;
  AppendElement(text, "HostName", GlobalSettings.HostName);
  log.Trace = 335;
  AppendElement(text, "ClassName", rec.ClassName);
  log.Trace = 340;
  AppendElement(text, "e.Message", rec.Message);
  log.Trace = 360;
  AppendElement(text, "SQL", rec.SQL);
  AppendElement(text, "Notes", rec.Notes);
  text += "</Exception>\r\n</xml>\r\n";
  return text;
}

std::string ReportPathAt(const tExceptionRec& rec, const std::string& directory, double moment) {
  const std::string stamp = FormatDayTime("yyyymmddhhnnsszzz", moment);
  if (rec.FileName.empty()) return directory + "EXCEPTION-" + GlobalSettings.SelfName + "-" + stamp + ".XML";
  return ReplaceFirst(directory + ReplaceFirst(rec.FileName, "{timestamp}", stamp), "{selfname}",
                      GlobalSettings.SelfName);
}

// Writes the report under the name of this moment. A name that is taken, by
// a report of this process or of another that faulted in the same
// millisecond, moves on by a millisecond; each name is claimed in the step
// that creates the file, so no report replaces another. A name without a
// time stamp cannot move on: its file is replaced, as it always was.
std::string WriteReport(const tExceptionRec& rec, const std::string& text, tLogRec& log) {
  constexpr double kMillisecond = 1.0 / 86400000;
  constexpr int kTries = 1000;
  const std::string directory = PathDirPart(GetEXEPath(""));
  double moment = LocalNow();
  std::string path = ReportPathAt(rec, directory, moment);
  log.Trace = 420;
  for (int tries = 1; WriteNewTextFile(text, path) == NewFileResult::kNameTaken; ++tries) {
    moment += kMillisecond;
    std::string next = ReportPathAt(rec, directory, moment);
    if (next == path || tries == kTries) {
      WriteTextFile(text, path, false, "");
      break;
    }
    path = std::move(next);
  }
  return path;
}

void SoundAlarm() {
  platform::Machine& machine = platform::Use<platform::Machine>();
  for (std::uint32_t frequency : {200u, 400u, 800u, 1600u}) machine.Beep(frequency, 50);
}

}  // namespace

std::string SaveExceptionRecAsXML(tExceptionRec Rec) {
  if (gReportDepth >= kMaxReportNesting) return std::string();
  DepthScope depth;
  if (gObserver != nullptr) gObserver(Rec);
  std::string path;
  tLogRec log;
  LateNestingScope nesting;
  try {
    log.Trace = 100;
    PostNotice(Rec);
    log.Trace = 200;
    nesting.Arm();
    const std::string text = ReportText(Rec, log);
    log.Trace = 380;
    path = WriteReport(Rec, text, log);
    log.Trace = 460;
    if (Rec.bBeep) SoundAlarm();
  } catch (const std::exception& fault) {
    // Moved, not copied: the handler itself must not run out of memory.
    ReportFault(std::move(Rec), "tov32.SaveExceptionRecAsXML", log.Trace, fault);
  }
  return path;
}

void SetReportObserver(ReportObserver observer) { gObserver = observer; }

}  // namespace tov32
