// The program's whole life.
#include "audit/program.h"

#include "audit/audit_run.h"
#include "audit/last_chance.h"
#include "tov32/platform/console.h"
#include "tov32/text/formatting.h"

namespace norva {

int RunProgram() {
  tov32::platform::IgnoreWriteFaultSignals();
  ConsoleStream out;
  return RunWithLastChance(out, [&] {
    tov32::LoadRegionalSeparators();
    RunAudit(out);
  });
}

}  // namespace norva
