// A network endpoint: a host name or IP address with a port.
//
// The host name is kept beside the IP: a name that is the text of an IP
// address is "literal" and sets the IP at once; any other name leaves the
// IP at the IPv4 any address until ResolveIP (or the asynchronous
// resolver) fills it in. Text forms: "host:port", "[v6]:port"; the binary
// form is 0, a family code (1 IPv4, 2 IPv6), the port big-endian, then the
// address bytes in network order.
//
// Threads: a value type; ResolveIP blocks on the system's lookup.
#ifndef TALK_BASE_SOCKETADDRESS_H_
#define TALK_BASE_SOCKETADDRESS_H_

#include <netinet/in.h>
#include <stdint.h>
#include <sys/socket.h>

#include <ostream>
#include <string>
#include <vector>

#include "talk/base/ipaddress.h"

namespace talk_base {

class SocketAddress {
 public:
  // The cleared address: no name, 0.0.0.0, port 0.
  SocketAddress();
  SocketAddress(const std::string& hostname, int port);
  SocketAddress(uint32_t ip_as_host_order_integer, int port);
  SocketAddress(const IPAddress& ip, int port);
  SocketAddress(const SocketAddress& addr);

  SocketAddress& operator=(const SocketAddress& addr);

  void Clear();

  // Stores |hostname|; a literal IP sets the IP too, any other name sets
  // it to the any address. Returns whether the name was literal.
  bool SetIP(const std::string& hostname);
  // Forget the name; use this IP.
  void SetIP(uint32_t ip_as_host_order_integer);
  void SetIP(const IPAddress& ip);
  // Sets the IP, keeping the name.
  void SetResolvedIP(const IPAddress& ip);
  void SetResolvedIP(uint32_t ip_as_host_order_integer);

  // Keeps the low 16 bits.
  void SetPort(int port);

  const std::string& hostname() const { return hostname_; }
  const IPAddress& GetIPAddress() const { return ip_; }
  // The IPv4 address in host order; 0 for IPv6.
  uint32_t GetIP() const;
  uint16_t GetPort() const { return port_; }
  bool literal() const { return literal_; }

  // The host name when it is not literal, else the IP text ("[...]" for
  // IPv6).
  std::string HostAsURIString() const;
  std::string PortAsString() const;
  std::string ToString() const;
  // Parses "host:port" or "[v6]:port"; false for malformed text.
  bool FromString(const std::string& str);

  bool IsNil() const;
  bool IsComplete() const;
  bool IsAnyIP() const;
  bool IsUnresolvedIP() const;
  bool IsLoopbackIP() const;
  bool IsLocalIP() const;
  bool IsPrivateIP() const;

  // Resolves the name when there is one and (|force| or no IP yet); the
  // lookup's error goes to |error|. True when an IP is known afterwards.
  bool ResolveIP(bool force = false, int* error = nullptr);

  bool operator==(const SocketAddress& addr) const;
  bool operator!=(const SocketAddress& addr) const { return !(*this == addr); }
  bool operator<(const SocketAddress& addr) const;
  bool EqualIPs(const SocketAddress& addr) const;
  bool EqualPorts(const SocketAddress& addr) const;
  size_t Hash() const;

  // The binary form.
  size_t Size() const;
  bool Write(char* buf, int len) const;
  bool Read(const char* buf, int len);

  void ToSockAddr(sockaddr_in* saddr) const;
  bool FromSockAddr(const sockaddr_in& saddr);
  // The size used, ready for a socket call's length; 0 without family.
  int ToSockAddrStorage(sockaddr_storage* saddr) const;
  int ToDualStackSockAddrStorage(sockaddr_storage* saddr) const;

  // Text conversions of IPv4 addresses in host order.
  static bool StringToIP(const std::string& str, uint32_t* ip);
  static uint32_t StringToIP(const std::string& str);
  static bool StringToIP(const std::string& str, IPAddress* ip);
  static std::string IPToString(uint32_t ip_as_host_order_integer);

  // The machine's name, or empty.
  static std::string GetHostname();
  // The addresses the machine's name resolves to.
  static bool GetLocalIPs(std::vector<IPAddress>* ips);

 private:
  std::string hostname_;
  IPAddress ip_;
  uint16_t port_;
  bool literal_;
};

std::ostream& operator<<(std::ostream& os, const SocketAddress& addr);

// Fills |saddr| with |ip| and |port|; the size used, 0 for an address
// without family.
int ToSockAddrStorageHelper(sockaddr_storage* saddr, const IPAddress& ip,
                            int port);
bool SocketAddressFromSockAddrStorage(const sockaddr_storage& saddr,
                                      SocketAddress* out);

}  // namespace talk_base

#endif  // TALK_BASE_SOCKETADDRESS_H_
