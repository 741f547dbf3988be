// Entry of the test binaries. Started with "--capture-child", the binary is
// the child of a capture test instead, so those tests need no outside tools
// and behave the same natively and under Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"
#include "tov32/platform/clock.h"
#include "tov32/platform/console.h"

namespace {

std::string Letters(std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>('a' + i % 26);
  return bytes;
}

// The name of the process that started this one, where /proc tells it.
std::string ParentName() {
  std::ifstream self("/proc/self/stat");
  std::string stat;
  std::getline(self, stat);
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  char state = 0;
  std::string parent;
  fields >> state >> parent;
  std::ifstream comm("/proc/" + parent + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

int RunCaptureChild(const std::string& behaviour, const std::string& argument) {
  tov32::platform::Console& console = tov32::platform::Native<tov32::platform::Console>();
  if (behaviour == "bytes") return console.WriteStandardOutput(Letters(std::stoul(argument))) == 0 ? 0 : 1;
  if (behaviour == "crlf") return console.WriteStandardOutput("abc\r\n");
  if (behaviour == "nul") return console.WriteStandardOutput(std::string("ab\0cd", 5) + std::string(300, 'z'));
  if (behaviour == "stderr") {
    console.WriteStandardError("only errors\r\n");
    return 0;
  }
  if (behaviour == "silent") {
    tov32::platform::SleepMilliseconds(std::atoi(argument.c_str()));
    return 0;
  }
  if (behaviour == "parent") return console.WriteStandardOutput(ParentName()) == 0 ? 0 : 1;
  if (behaviour == "flood") {
    const std::string chunk = Letters(4096);
    while (console.WriteStandardOutput(chunk) == 0) {
    }
    return 0;
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--capture-child") {
    return RunCaptureChild(argv[2], argc >= 4 ? argv[3] : "");
  }
  tov32::platform::IgnoreWriteFaultSignals();
  ::testing::InitGoogleTest(&argc, argv);
  // The tones of fault reports are recorded, not sounded, in every test, and
  // each test process has a program directory of its own for its reports.
  norva_test::TempDir programDirectory;
  // Whatever a test writes into the current directory lands in a folder of
  // its own, never where the tests were started.
  norva_test::TempCurrentDir workingDirectory;
  norva_test::FakeMachine quietMachine;
  quietMachine.moduleFileName = programDirectory.Path("tests.exe");
  tov32::platform::ScopedReplacement<tov32::platform::Machine> quiet(quietMachine);
  return RUN_ALL_TESTS();
}
