#include "tov32/faults/syslog.h"

#include <gtest/gtest.h>

#include <regex>

#include "tests/support/fakes.h"
#include "tov32/faults/fault_records.h"

namespace {

using tov32::platform::ScopedReplacement;

class PostSyslogMsgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listener = tov32::platform::ListenUdp(0x7F000001, 514);
    if (!listener) GTEST_SKIP() << "port 514 on 127.0.0.1 cannot be bound by this user";
  }
  void TearDown() override {
    tov32::GlobalSettings.HostName.clear();
    tov32::GlobalSettings.Log.LogName.clear();
    EXPECT_EQ(tov32::GlobalSettings.NestingCount, 0);
  }
  std::unique_ptr<tov32::platform::UdpListener> listener;
};

TEST_F(PostSyslogMsgTest, SendsExactlyTheNoticeBytes) {
  norva_test::FakeClock clock;
  clock.local = {2021, 1, 7, 14, 5, 9, 42};
  ScopedReplacement<tov32::platform::Clock> use(clock);
  tov32::GlobalSettings.HostName = "WS-01";
  tov32::GlobalSettings.Log.LogName = "audit";
  tov32::tSyslogRec request;
  request.Code = -12;
  request.Msg = "two\r\nlines";
  request.Source = "tests";
  request.Host = "localhost";
  EXPECT_TRUE(tov32::PostSyslogMsg(request));
  EXPECT_EQ(listener->Receive(2000), std::optional<std::string>("WS-01%audit:[-12]14:05:09.042. (tests) two\r\nlines"));
}

TEST_F(PostSyslogMsgTest, EmptySettingsStartWithTheMarks) {
  tov32::tSyslogRec request;
  request.Msg = "m";
  request.Host = "127.0.0.1";
  EXPECT_TRUE(tov32::PostSyslogMsg(request));
  const std::optional<std::string> notice = listener->Receive(2000);
  ASSERT_TRUE(notice.has_value());
  EXPECT_TRUE(std::regex_match(*notice, std::regex(R"(%:\[0\]\d\d:\d\d:\d\d\.\d\d\d\. \(\) m)"))) << *notice;
}

TEST_F(PostSyslogMsgTest, SendsNothingWithoutHostOrWhereItCannot) {
  norva_test::FakeNetwork network;
  ScopedReplacement<tov32::platform::Network> use(network);
  norva_test::ReportRecorder recorder;
  tov32::tSyslogRec request;
  request.Msg = "m";
  EXPECT_FALSE(tov32::PostSyslogMsg(request));
  EXPECT_EQ(network.socketsOpened, 0);

  request.Host = "no-such-host.invalid";
  EXPECT_FALSE(tov32::PostSyslogMsg(request));
  request.Host = "LOCALHOST";
  request.Msg = std::string(70000, 'x');
  EXPECT_FALSE(tov32::PostSyslogMsg(request));
  EXPECT_FALSE(listener->Receive(300).has_value());
  EXPECT_TRUE(recorder.records().empty());
}

}  // namespace
