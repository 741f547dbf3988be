#include "audit/console_stream.h"

#include <gtest/gtest.h>

#include "tests/support/fakes.h"
#include "tov32/faults/fault_records.h"

namespace {

using tov32::platform::ScopedReplacement;
using tov32::platform::StreamKind;

class ConsoleStreamTest : public ::testing::Test {
 protected:
  norva_test::FakeConsole console;
  ScopedReplacement<tov32::platform::Console> use{console};
  norva::ConsoleStream stream;
};

int ErrorCodeOf(const std::function<void()>& write) {
  try {
    write();
  } catch (const tov32::EInOutError& fault) {
    return fault.ErrorCode();
  }
  return 0;
}

TEST_F(ConsoleStreamTest, FileOrPipeBytesLeaveWhenTheBufferIsFullAndAtTheEnd) {
  stream.WriteStatement(std::string(100, 'a'));
  EXPECT_TRUE(console.handOvers.empty());
  stream.WriteLine(std::string(48, 'b'));
  EXPECT_EQ(console.handOvers, std::vector<std::size_t>{128});
  stream.Close();
  EXPECT_EQ(console.handOvers, (std::vector<std::size_t>{128, 22}));
  EXPECT_EQ(console.output, std::string(100, 'a') + std::string(48, 'b') + "\r\n");
}

TEST_F(ConsoleStreamTest, ConsoleGetsEveryStatementAtOnce) {
  console.kind = StreamKind::kCharacter;
  stream.WriteLine("NORVA");
  stream.WriteStatement(".");
  stream.WriteStatement(".");
  EXPECT_EQ(console.handOvers, (std::vector<std::size_t>{7, 1, 1}));
  EXPECT_EQ(console.output, "NORVA\r\n..");
}

TEST_F(ConsoleStreamTest, StreamThatCannotBeOpenedFailsWithCode105) {
  for (StreamKind kind : {StreamKind::kNone, StreamKind::kUnknown}) {
    console.kind = kind;
    norva::ConsoleStream fresh;
    EXPECT_EQ(ErrorCodeOf([&] { fresh.WriteLine("NORVA"); }), 105);
  }
  EXPECT_TRUE(console.handOvers.empty());
}

TEST_F(ConsoleStreamTest, FailedHandOverRaisesAtItsStatementAndDropsItsBytes) {
  console.failAfterBytes = 0;
  console.failCode = 32;
  EXPECT_EQ(ErrorCodeOf([&] { stream.WriteStatement(std::string(127, 'a')); }), 0);
  EXPECT_EQ(ErrorCodeOf([&] { stream.WriteStatement("bc"); }), 32);
  console.failAfterBytes.reset();
  stream.Close();
  EXPECT_EQ(console.output, "c");
}

TEST_F(ConsoleStreamTest, FailedFinalHandOverRaisesToo) {
  console.failAfterBytes = 0;
  console.failCode = 28;
  stream.WriteLine("short");
  EXPECT_EQ(ErrorCodeOf([&] { stream.Close(); }), 28);
}

}  // namespace
