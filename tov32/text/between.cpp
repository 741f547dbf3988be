// Delimited substring and flag text, both guarded.
#include "tov32/text/between.h"

#include "tov32/faults/fault_records.h"
#include "tov32/text/formatting.h"

namespace tov32 {

std::string Between(const std::string& Subject, const std::string& StartDelimiter,
                    const std::string& EndDelimiter) {
  std::string result;
  tLogRec log;
  Guarded("tov32.Between", log, [&] {
    const std::int32_t start = StartDelimiter.empty() ? 1 : TextPos(StartDelimiter, Subject);
    if (start == 0) return;
    result = SubText(Subject, start + static_cast<std::int32_t>(StartDelimiter.size()),
                     static_cast<std::int32_t>(Subject.size()));
    if (const std::int32_t end = TextPos(EndDelimiter, result); end > 0) result = SubText(result, 1, end - 1);
  });
  return result;
}

std::string BooleanTStr(bool Flag, const std::string& TrueText, const std::string& FalseText) {
  std::string result;
  tLogRec log;
  if (!Guarded("tov32.BooleanTStr", log, [&] { result = Flag ? TrueText : FalseText; })) {
    result = "Exception";
  }
  return result;
}

}  // namespace tov32
