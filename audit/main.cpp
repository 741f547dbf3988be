// NorvaAudit: audits the machine it runs on and prints a short report.
#include "audit/program.h"

int main() { return norva::RunProgram(); }
