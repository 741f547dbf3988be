// The syslog notice: one short UDP datagram to port 514.
#pragma once

#include <cstdint>
#include <string>

namespace tov32 {

// A syslog request. `Host` is a host name or dotted IPv4 address; empty
// means that nothing is sent.
struct tSyslogRec {
  std::int32_t Code = 0;
  std::string Msg;
  std::string Source;
  std::int32_t Reserved1 = 0;
  std::int32_t Reserved2 = 0;
  std::string Host;
};

// Sends "HostName%LogName:[Code]HH:NN:SS.ZZZ. (Source) Msg" as one datagram
// to `Host` port 514 ("localhost" in any case is 127.0.0.1). True when the
// datagram went out in full; false otherwise, also when no host was named.
// Lookup and send failures are dropped silently. Guarded: never throws.
bool PostSyslogMsg(tSyslogRec Request);

}  // namespace tov32
