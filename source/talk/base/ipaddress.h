// An IPv4 or IPv6 address as a value, with its text form, ordering, hash
// and classification.
//
// A default IPAddress has no family (0) and compares equal only to another
// one without family. IPv4 addresses are stored in network byte order;
// constructing from a uint32 takes host order.
//
// Threads: a value type; no shared state.
#ifndef TALK_BASE_IPADDRESS_H_
#define TALK_BASE_IPADDRESS_H_

#include <netdb.h>
#include <netinet/in.h>
#include <stdint.h>
#include <sys/socket.h>

#include <ostream>
#include <string>

namespace talk_base {

class IPAddress {
 public:
  IPAddress();
  explicit IPAddress(const in_addr& ip4);
  explicit IPAddress(const in6_addr& ip6);
  explicit IPAddress(uint32_t ip_in_host_byte_order);

  bool operator==(const IPAddress& other) const;
  bool operator!=(const IPAddress& other) const;
  bool operator<(const IPAddress& other) const;
  bool operator>(const IPAddress& other) const;

  int family() const { return family_; }
  in_addr GetIPv4Address() const;
  in6_addr GetIPv6Address() const;
  // 4, 16, or 0 without family.
  size_t Size() const;
  // inet_ntop's text; empty without family.
  std::string ToString() const;
  // An IPv4 address as ::ffff:a.b.c.d; others unchanged.
  IPAddress AsIPv6Address() const;
  // An IPv4-mapped IPv6 address as the IPv4 address; others unchanged.
  IPAddress Normalized() const;
  // The IPv4 address in host order; 0 for other families.
  uint32_t V4AddressAsHostOrderInteger() const;

 private:
  int family_;
  union {
    in_addr ip4;
    in6_addr ip6;
  } u_;
};

std::ostream& operator<<(std::ostream& os, const IPAddress& addr);

// Parses IPv4, then IPv6 text. On failure |out| becomes the address
// without family and the answer is false; false also for a null |out|.
bool IPFromString(const std::string& str, IPAddress* out);
// The |index|th address of a host entry, as IPv4 or IPv6 by the entry's
// address type; false when there is no such address or the type is
// neither.
bool IPFromHostEnt(const hostent* host_ent, int index, IPAddress* out);
bool IPFromHostEnt(const hostent* host_ent, IPAddress* out);
// 0.0.0.0 or ::.
bool IPIsAny(const IPAddress& ip);
// Exactly 127.0.0.1 or ::1.
bool IPIsLoopback(const IPAddress& ip);
// 10/8, 127/8, 172.16/12, 192.168/16, 169.254/16; fe80::/16 and ::1.
bool IPIsPrivate(const IPAddress& ip);
// IPv4: the stored address word; IPv6: its four words xor-ed; else 0.
size_t HashIP(const IPAddress& ip);

}  // namespace talk_base

#endif  // TALK_BASE_IPADDRESS_H_
