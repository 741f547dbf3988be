// IPv4 datagrams.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tov32/platform/seam.h"

namespace tov32::platform {

class UdpSocket {
 public:
  virtual ~UdpSocket() = default;  // closes the socket
  virtual bool DisableBroadcast() = 0;
  // Sends one datagram; the number of bytes sent, or -1.
  virtual long SendTo(std::uint32_t ipv4HostOrder, std::uint16_t port, std::string_view payload) = 0;
};

class Network {
 public:
  virtual ~Network() = default;
  // The first IPv4 address (host byte order) of a dotted address or name.
  virtual std::optional<std::uint32_t> ResolveIPv4(const std::string& host) = 0;
  // An unbound IPv4 datagram socket; nullptr on failure.
  virtual std::unique_ptr<UdpSocket> OpenUdpSocket() = 0;
};

template <>
Network& Native<Network>();

// A bound datagram socket that receives, for tests of what is sent.
class UdpListener {
 public:
  virtual ~UdpListener() = default;
  // The next datagram's payload, or nullopt when none arrives in time.
  virtual std::optional<std::string> Receive(int timeoutMs) = 0;
};

// Listens on `ipv4HostOrder`:`port`; nullptr when it cannot be bound.
std::unique_ptr<UdpListener> ListenUdp(std::uint32_t ipv4HostOrder, std::uint16_t port);

}  // namespace tov32::platform
