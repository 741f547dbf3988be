// The audit run: banner, eight progress dots, the report and its duration.
#pragma once

#include <cstdint>
#include <string>

#include "audit/console_stream.h"

namespace norva {

// The number of cores that a core-count text gives: the sum where it holds
// several lines that are each a valid integer (one per processor package),
// else the text read as an integer with the default 1.
std::int32_t CoreCountOf(const std::string& coreText);

// Runs the whole audit, writing to `out`. Throws what the console stream
// throws (EInOutError) and what escapes the unguarded probes.
void RunAudit(ConsoleStream& out);

}  // namespace norva
