// The program's whole life: start-up settings, the audit, the exit code.
#pragma once

namespace norva {

// Runs the program once and returns its exit code: 0 after a complete run,
// 1 after a fault that escaped it.
int RunProgram();

}  // namespace norva
