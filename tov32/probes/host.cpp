// The computer's name and the program's location.
#include "tov32/probes/host.h"

#include <memory>
#include <optional>

#include "tov32/faults/fault_records.h"
#include "tov32/platform/files.h"
#include "tov32/platform/machine.h"
#include "tov32/platform/registry.h"
#include "tov32/text/formatting.h"

namespace tov32 {
namespace {

constexpr const char* kLongPathPrefix = "\\\\?\\";
constexpr const char* kSiblingName = "zarn.exe";
constexpr const char* kSiblingPath = "C:\\Program Files (x86)\\Tessary\\Zarn\\Zarn.exe";
constexpr const char* kAppPathsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

std::string ProgramDirectory() {
  std::string directory = PathDirPart(platform::Use<platform::Machine>().ModuleFileName());
  if (directory.compare(0, 4, kLongPathPrefix) == 0) directory.erase(0, 4);
  return directory;
}

// A registry value read as text: its characters up to the first zero. The
// bytes are read before the type is looked at, so a value that cannot be
// read is that fault whatever its type.
std::string RegistryText(const std::optional<platform::RegistryValue>& value, const std::string& name) {
  if (!value || value->data.empty()) return std::string();
  if (!value->dataRead) throw ERegistryException("Failed to get data for '" + name + "'");
  if (value->type != platform::kRegSz && value->type != platform::kRegExpandSz) {
    throw ERegistryException("Invalid data type for '" + name + "'");
  }
  return value->data.substr(0, value->data.find('\0'));
}

std::string AppPath(const std::string& ExeName) {
  const std::unique_ptr<platform::RegistryKey> key =
      platform::Use<platform::Registry>().OpenLocalMachineKey(kAppPathsKey + ExeName);
  if (!key) return std::string();
  if (const std::optional<platform::RegistryValue> path = key->QueryValue("Path")) {
    const std::string joined = RegistryText(path, "Path") + "\\" + ExeName;
    return ReplaceFirst(ReplaceFirst(joined, "\\\\", "\\"), ";", "\\");
  }
  return RegistryText(key->QueryValue(""), "");
}

}  // namespace

std::string GetHostName() {
  std::string name;
  tLogRec log;
  Guarded("tov32.GetHostName", log, [&] {
    if (std::optional<std::string> computer = platform::Use<platform::Machine>().ComputerName()) {
      name = std::move(*computer);
    }
  });
  return name;
}

std::string GetEXEPath(const std::string& ExeName) {
  std::string result;
  tLogRec log;
  CountedGuarded("tov32.GetEXEPath", log, [&] {
    if (ExeName.empty()) {
      result = ProgramDirectory();
    } else if (LowerAscii(ExeName) == kSiblingName) {
      if (FileExists(kSiblingPath)) result = kSiblingPath;
    } else {
      result = AppPath(ExeName);
    }
  });
  return result;
}

bool FileExists(const std::string& FilePath) {
  bool found = false;
  tLogRec log;
  CountedGuarded("tov32.FileExists", log, [&] {
    found = platform::Use<platform::Files>().Search(GlobalSettings.PathPrefix + FilePath).found;
  });
  return found;
}

}  // namespace tov32
