// Winsock IPv4 datagram sockets and host-name lookup.
#include "tov32/platform/net.h"

#include "tov32/platform/win32/windows_support.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace tov32::platform {
namespace {

// Winsock is started once, before its first use, and left running.
bool WinsockStarted() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

class ScopedSocket {
 public:
  explicit ScopedSocket(SOCKET socket) : socket_(socket) {}
  ~ScopedSocket() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }
  ScopedSocket(const ScopedSocket&) = delete;
  ScopedSocket& operator=(const ScopedSocket&) = delete;
  SOCKET Get() const { return socket_; }
  SOCKET Release() {
    const SOCKET socket = socket_;
    socket_ = INVALID_SOCKET;
    return socket;
  }

 private:
  SOCKET socket_;
};

sockaddr_in Address(std::uint32_t ipv4HostOrder, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(ipv4HostOrder);
  return address;
}

class Win32UdpSocket final : public UdpSocket {
 public:
  explicit Win32UdpSocket(SOCKET socket) : socket_(socket) {}

  bool DisableBroadcast() override {
    const BOOL off = FALSE;
    return setsockopt(socket_.Get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&off), sizeof off) == 0;
  }

  long SendTo(std::uint32_t ipv4HostOrder, std::uint16_t port, std::string_view payload) override {
    const sockaddr_in target = Address(ipv4HostOrder, port);
    return sendto(socket_.Get(), payload.data(), static_cast<int>(payload.size()), 0,
                  reinterpret_cast<const sockaddr*>(&target), sizeof target);
  }

 private:
  ScopedSocket socket_;
};

class Win32UdpListener final : public UdpListener {
 public:
  explicit Win32UdpListener(SOCKET socket) : socket_(socket) {}

  std::optional<std::string> Receive(int timeoutMs) override {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_.Get(), &readable);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) return std::nullopt;
    std::string payload(65536, '\0');
    const int count = recv(socket_.Get(), payload.data(), static_cast<int>(payload.size()), 0);
    if (count < 0) return std::nullopt;
    payload.resize(static_cast<std::size_t>(count));
    return payload;
  }

 private:
  ScopedSocket socket_;
};

class Win32Network final : public Network {
 public:
  std::optional<std::uint32_t> ResolveIPv4(const std::string& host) override {
    if (!WinsockStarted()) return std::nullopt;
    in_addr dotted{};
    if (inet_pton(AF_INET, host.c_str(), &dotted) == 1) return ntohl(dotted.s_addr);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
    const std::uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return address;
  }

  std::unique_ptr<UdpSocket> OpenUdpSocket() override {
    if (!WinsockStarted()) return nullptr;
    ScopedSocket socket(::socket(AF_INET, SOCK_DGRAM, 0));
    if (socket.Get() == INVALID_SOCKET) return nullptr;
    auto udp = std::make_unique<Win32UdpSocket>(socket.Get());
    socket.Release();
    return udp;
  }
};

}  // namespace

std::unique_ptr<UdpListener> ListenUdp(std::uint32_t ipv4HostOrder, std::uint16_t port) {
  if (!WinsockStarted()) return nullptr;
  ScopedSocket socket(::socket(AF_INET, SOCK_DGRAM, 0));
  if (socket.Get() == INVALID_SOCKET) return nullptr;
  const sockaddr_in local = Address(ipv4HostOrder, port);
  if (bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return nullptr;
  auto listener = std::make_unique<Win32UdpListener>(socket.Get());
  socket.Release();
  return listener;
}

template <>
Network& Native<Network>() {
  static Win32Network network;
  return network;
}

}  // namespace tov32::platform
