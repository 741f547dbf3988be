// Delimited substring and flag text.
#pragma once

#include <string>

namespace tov32 {

// The part of `Subject` after the first `StartDelimiter` (from the start when
// it is empty), cut before the first `EndDelimiter` that follows; empty when
// the start delimiter does not occur. Guarded: never throws.
std::string Between(const std::string& Subject, const std::string& StartDelimiter,
                    const std::string& EndDelimiter);

// `TrueText` when `Flag` is set, else `FalseText`; "Exception" after a fault.
std::string BooleanTStr(bool Flag, const std::string& TrueText, const std::string& FalseText);

}  // namespace tov32
