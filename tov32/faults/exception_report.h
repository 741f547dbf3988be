// The exception report writer.
#pragma once

#include <string>

#include "tov32/faults/fault_records.h"

namespace tov32 {

// How deep reports may nest: a fault inside the writer, or inside a routine
// that it calls, is reported by a nested call. A call beyond this depth
// writes nothing and returns the empty text, so a fault that repeats at
// every attempt still ends.
inline constexpr int kMaxReportNesting = 3;

// Posts a syslog notice for `Rec`, writes the XML report (sixteen CR LF
// lines, "&", "<" and ">" escaped in every value) into the program's
// directory as "EXCEPTION-<SelfName>-<yyyymmddhhnnsszzz>.XML" or by the
// pattern in `Rec.FileName` ("{timestamp}" and "{selfname}" replaced once
// each), sounds four tones when `Rec.bBeep` is set, and returns the report's
// path, also when the file could not be written. Guarded: never throws.
std::string SaveExceptionRecAsXML(tExceptionRec Rec);

// For tests: called with every record that the writer is handed.
using ReportObserver = void (*)(const tExceptionRec&);
void SetReportObserver(ReportObserver observer);

}  // namespace tov32
