// POSIX IPv4 datagram sockets and host-name lookup.
#include "tov32/platform/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#ifdef __GLIBC__
#include <nss.h>
#endif
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tov32::platform {
namespace {

class PosixUdpSocket final : public UdpSocket {
 public:
  explicit PosixUdpSocket(int descriptor) : descriptor_(descriptor) {}
  ~PosixUdpSocket() override { ::close(descriptor_); }

  bool DisableBroadcast() override {
    int off = 0;
    return setsockopt(descriptor_, SOL_SOCKET, SO_BROADCAST, &off, sizeof off) == 0;
  }

  long SendTo(std::uint32_t ipv4HostOrder, std::uint16_t port, std::string_view payload) override {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(ipv4HostOrder);
    return static_cast<long>(sendto(descriptor_, payload.data(), payload.size(), 0,
                                    reinterpret_cast<const sockaddr*>(&target), sizeof target));
  }

 private:
  int descriptor_;
};

// Names are looked up in the hosts file and DNS only, the services built
// into the C library. The shipped program is static: a module of the host's
// (mdns, sssd, systemd) would be loaded against another C library than its
// own, which can fail in any way, a crash included; this way it is never
// loaded, and a name that neither service knows is a clean failure.
void KeepLookupsToBuiltInServices() {
#ifdef __GLIBC__
  static const bool configured = __nss_configure_lookup("hosts", "files dns") == 0;
  static_cast<void>(configured);
#endif
}

class PosixNetwork final : public Network {
 public:
  std::optional<std::uint32_t> ResolveIPv4(const std::string& host) override {
    in_addr dotted{};
    if (inet_pton(AF_INET, host.c_str(), &dotted) == 1) return ntohl(dotted.s_addr);
    KeepLookupsToBuiltInServices();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
    std::uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return address;
  }

  std::unique_ptr<UdpSocket> OpenUdpSocket() override {
    int descriptor = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) return nullptr;
    try {
      return std::make_unique<PosixUdpSocket>(descriptor);
    } catch (...) {
      ::close(descriptor);
      throw;
    }
  }
};

class PosixUdpListener final : public UdpListener {
 public:
  explicit PosixUdpListener(int descriptor) : descriptor_(descriptor) {}
  ~PosixUdpListener() override { ::close(descriptor_); }

  std::optional<std::string> Receive(int timeoutMs) override {
    pollfd watched{descriptor_, POLLIN, 0};
    if (poll(&watched, 1, timeoutMs) <= 0) return std::nullopt;
    char payload[65536];
    const ssize_t count = recv(descriptor_, payload, sizeof payload, 0);
    if (count < 0) return std::nullopt;
    return std::string(payload, static_cast<std::size_t>(count));
  }

 private:
  int descriptor_;
};

}  // namespace

std::unique_ptr<UdpListener> ListenUdp(std::uint32_t ipv4HostOrder, std::uint16_t port) {
  const int descriptor = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (descriptor < 0) return nullptr;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(ipv4HostOrder);
  if (bind(descriptor, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    ::close(descriptor);
    return nullptr;
  }
  return std::make_unique<PosixUdpListener>(descriptor);
}

template <>
Network& Native<Network>() {
  static PosixNetwork network;
  return network;
}

}  // namespace tov32::platform
