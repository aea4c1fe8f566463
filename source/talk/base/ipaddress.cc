#include "talk/base/ipaddress.h"

#include <arpa/inet.h>
#include <string.h>

#include "talk/base/nethelpers.h"

namespace talk_base {

namespace {

// The first 12 bytes of an IPv4-mapped IPv6 address.
const unsigned char kV4MappedPrefix[12] = {0, 0, 0, 0, 0, 0,
                                           0, 0, 0, 0, 0xFF, 0xFF};

// Rank of a family in the ordering; -1 for families that do not order.
int FamilyRank(int family) {
  switch (family) {
    case 0: return 0;
    case AF_INET: return 1;
    case AF_INET6: return 2;
    default: return -1;
  }
}

// The private and loopback IPv4 networks: address and prefix length.
const struct {
  uint32_t network;
  int prefix;
} kPrivateV4[] = {
    {0x0A000000, 8},   // 10.0.0.0/8
    {0x7F000000, 8},   // 127.0.0.0/8
    {0xAC100000, 12},  // 172.16.0.0/12
    {0xC0A80000, 16},  // 192.168.0.0/16
    {0xA9FE0000, 16},  // 169.254.0.0/16
};

}  // namespace

IPAddress::IPAddress() : family_(0) { memset(&u_, 0, sizeof(u_)); }

IPAddress::IPAddress(const in_addr& ip4) : family_(AF_INET) {
  memset(&u_, 0, sizeof(u_));
  u_.ip4 = ip4;
}

IPAddress::IPAddress(const in6_addr& ip6) : family_(AF_INET6) {
  u_.ip6 = ip6;
}

IPAddress::IPAddress(uint32_t ip_in_host_byte_order) : family_(AF_INET) {
  memset(&u_, 0, sizeof(u_));
  u_.ip4.s_addr = htonl(ip_in_host_byte_order);
}

bool IPAddress::operator==(const IPAddress& other) const {
  if (family_ != other.family_) return false;
  switch (family_) {
    case 0: return true;
    case AF_INET: return u_.ip4.s_addr == other.u_.ip4.s_addr;
    case AF_INET6: return memcmp(&u_.ip6, &other.u_.ip6, sizeof(u_.ip6)) == 0;
    default: return false;
  }
}

bool IPAddress::operator!=(const IPAddress& other) const {
  return !(*this == other);
}

bool IPAddress::operator<(const IPAddress& other) const {
  if (family_ != other.family_) {
    const int mine = FamilyRank(family_), theirs = FamilyRank(other.family_);
    if (mine < 0 || theirs < 0) return false;
    return mine < theirs;
  }
  switch (family_) {
    case AF_INET:
      return V4AddressAsHostOrderInteger() <
             other.V4AddressAsHostOrderInteger();
    case AF_INET6:
      return memcmp(&u_.ip6, &other.u_.ip6, sizeof(u_.ip6)) < 0;
    default:
      return false;
  }
}

bool IPAddress::operator>(const IPAddress& other) const {
  return !(*this == other) && !(*this < other);
}

in_addr IPAddress::GetIPv4Address() const { return u_.ip4; }

in6_addr IPAddress::GetIPv6Address() const { return u_.ip6; }

size_t IPAddress::Size() const {
  switch (family_) {
    case AF_INET: return sizeof(in_addr);
    case AF_INET6: return sizeof(in6_addr);
    default: return 0;
  }
}

std::string IPAddress::ToString() const {
  if (family_ != AF_INET && family_ != AF_INET6) return std::string();
  char buf[INET6_ADDRSTRLEN] = {0};
  if (!InetNtop(family_, &u_, buf, sizeof(buf))) return std::string();
  return buf;
}

IPAddress IPAddress::AsIPv6Address() const {
  if (family_ != AF_INET) return *this;
  in6_addr v6;
  memcpy(v6.s6_addr, kV4MappedPrefix, sizeof(kV4MappedPrefix));
  memcpy(v6.s6_addr + 12, &u_.ip4.s_addr, 4);
  return IPAddress(v6);
}

IPAddress IPAddress::Normalized() const {
  if (family_ != AF_INET6 ||
      memcmp(u_.ip6.s6_addr, kV4MappedPrefix, sizeof(kV4MappedPrefix)) != 0) {
    return *this;
  }
  in_addr v4;
  memcpy(&v4.s_addr, u_.ip6.s6_addr + 12, 4);
  return IPAddress(v4);
}

uint32_t IPAddress::V4AddressAsHostOrderInteger() const {
  return (family_ == AF_INET) ? ntohl(u_.ip4.s_addr) : 0;
}

std::ostream& operator<<(std::ostream& os, const IPAddress& addr) {
  return os << addr.ToString();
}

bool IPFromString(const std::string& str, IPAddress* out) {
  if (!out) return false;
  in_addr addr4;
  if (InetPton(AF_INET, str.c_str(), &addr4) > 0) {
    *out = IPAddress(addr4);
    return true;
  }
  in6_addr addr6;
  if (InetPton(AF_INET6, str.c_str(), &addr6) > 0) {
    *out = IPAddress(addr6);
    return true;
  }
  *out = IPAddress();
  return false;
}

bool IPFromHostEnt(const hostent* host_ent, int index, IPAddress* out) {
  if (!out || !host_ent || index < 0 || !host_ent->h_addr_list) return false;
  for (int i = 0; i <= index; ++i) {
    if (!host_ent->h_addr_list[i]) return false;
  }
  const char* addr = host_ent->h_addr_list[index];
  if (host_ent->h_addrtype == AF_INET &&
      host_ent->h_length == static_cast<int>(sizeof(in_addr))) {
    in_addr ip4;
    memcpy(&ip4, addr, sizeof(ip4));
    *out = IPAddress(ip4);
    return true;
  }
  if (host_ent->h_addrtype == AF_INET6 &&
      host_ent->h_length == static_cast<int>(sizeof(in6_addr))) {
    in6_addr ip6;
    memcpy(&ip6, addr, sizeof(ip6));
    *out = IPAddress(ip6);
    return true;
  }
  return false;
}

bool IPFromHostEnt(const hostent* host_ent, IPAddress* out) {
  return IPFromHostEnt(host_ent, 0, out);
}

bool IPIsAny(const IPAddress& ip) {
  return ip == IPAddress(in_addr{INADDR_ANY}) || ip == IPAddress(in6addr_any);
}

bool IPIsLoopback(const IPAddress& ip) {
  return ip == IPAddress(static_cast<uint32_t>(INADDR_LOOPBACK)) ||
         ip == IPAddress(in6addr_loopback);
}

bool IPIsPrivate(const IPAddress& ip) {
  if (ip.family() == AF_INET) {
    const uint32_t host = ip.V4AddressAsHostOrderInteger();
    for (const auto& net : kPrivateV4) {
      const uint32_t mask = ~uint32_t(0) << (32 - net.prefix);
      if ((host & mask) == net.network) return true;
    }
    return false;
  }
  if (ip.family() == AF_INET6) {
    const in6_addr v6 = ip.GetIPv6Address();
    return (v6.s6_addr[0] == 0xFE && v6.s6_addr[1] == 0x80) ||
           IPIsLoopback(ip);
  }
  return false;
}

size_t HashIP(const IPAddress& ip) {
  if (ip.family() == AF_INET) return ip.GetIPv4Address().s_addr;
  if (ip.family() == AF_INET6) {
    const in6_addr v6 = ip.GetIPv6Address();
    uint32_t words[4];
    memcpy(words, v6.s6_addr, sizeof(words));
    return words[0] ^ words[1] ^ words[2] ^ words[3];
  }
  return 0;
}

}  // namespace talk_base
