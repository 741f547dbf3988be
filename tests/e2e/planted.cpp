// A program planted where the audit must never run one (as cmd.exe in the
// current directory, as wmic in a wrong folder): it leaves the file
// "planted-ran" beside itself and says "planted". Started with "--sleep MS"
// it instead waits that long and writes nothing, as a tool that hangs.
#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "tov32/platform/machine.h"
#include "tov32/text/formatting.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--sleep") {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(argv[2])));
    return 0;
  }
  const std::string self = tov32::platform::Native<tov32::platform::Machine>().ModuleFileName();
  std::ofstream(tov32::PathDirPart(self) + "planted-ran") << "planted\n";
  std::cout << "planted\n";
  return 0;
}
