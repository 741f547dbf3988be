// The syslog notice.
#include "tov32/faults/syslog.h"

#include <memory>

#include "tov32/faults/fault_records.h"
#include "tov32/platform/net.h"
#include "tov32/text/formatting.h"

namespace tov32 {
namespace {

constexpr std::uint16_t kSyslogPort = 514;
constexpr std::uint32_t kLoopback = 0x7F000001;

// The short-lived sender of one call: its destination, and a socket that is
// opened at the first send and closed with the sender.
class UdpSender {
 public:
  void SetDestination(const std::string& host, std::uint16_t port) {
    host_ = host;
    port_ = port;
  }

  // Sends one datagram; every failure, of whatever kind, is dropped.
  bool SendQuietly(const std::string& payload) noexcept {
    try {
      return Send(payload);
    } catch (...) {
      return false;
    }
  }

 private:
  bool Send(const std::string& payload) {
    platform::Network& network = platform::Use<platform::Network>();
    const std::optional<std::uint32_t> address =
        LowerAscii(host_) == "localhost" ? std::optional<std::uint32_t>(kLoopback) : network.ResolveIPv4(host_);
    if (!address) return false;
    if (!socket_) socket_ = network.OpenUdpSocket();
    if (!socket_ || !socket_->DisableBroadcast()) return false;
    const long sent = socket_->SendTo(*address, port_, payload);
    return sent >= 0 && static_cast<std::size_t>(sent) == payload.size();
  }

  std::string host_;
  std::uint16_t port_ = 0;
  std::unique_ptr<platform::UdpSocket> socket_;
};

std::string NoticeText(const tSyslogRec& request) {
  return GlobalSettings.HostName + "%" + GlobalSettings.Log.LogName + ":[" + IntToText(request.Code) + "]" +
         FormatDayTime("HH:NN:SS.ZZZ", LocalNow()) + ". (" + request.Source + ") " + request.Msg;
}

}  // namespace

bool PostSyslogMsg(tSyslogRec Request) {
  bool sent = false;
  tLogRec log;
  CountedGuarded("tov32.PostSyslogMsg", log, [&] {
    UdpSender sender;
    log.Trace = 200;
    if (Request.Host.empty()) return;
    sender.SetDestination(Request.Host, kSyslogPort);
    const std::string notice = NoticeText(Request);
    log.Trace = 400;
    sent = sender.SendQuietly(notice);
  });
  return sent;
}

}  // namespace tov32
