#include "talk/base/socketaddress.h"

#include <arpa/inet.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <sstream>

#include "talk/base/logging.h"
#include "talk/base/nethelpers.h"

namespace talk_base {

namespace {

// Family codes of the binary form.
const struct {
  int family;
  char code;
} kFamilyCodes[] = {{AF_INET, 1}, {AF_INET6, 2}};

int FamilyOfCode(char code) {
  for (const auto& entry : kFamilyCodes) {
    if (entry.code == code) return entry.family;
  }
  return 0;
}

char CodeOfFamily(int family) {
  for (const auto& entry : kFamilyCodes) {
    if (entry.family == family) return entry.code;
  }
  return 0;
}

const size_t kHeaderSize = 4;  // 0, family code, port

IPAddress AnyV4() { return IPAddress(static_cast<uint32_t>(INADDR_ANY)); }

uint16_t ParsePort(const char* text) {
  return static_cast<uint16_t>(strtoul(text, nullptr, 10));
}

}  // namespace

SocketAddress::SocketAddress() { Clear(); }

SocketAddress::SocketAddress(const std::string& hostname, int port) {
  SetIP(hostname);
  SetPort(port);
}

SocketAddress::SocketAddress(uint32_t ip_as_host_order_integer, int port) {
  SetIP(IPAddress(ip_as_host_order_integer));
  SetPort(port);
}

SocketAddress::SocketAddress(const IPAddress& ip, int port) {
  SetIP(ip);
  SetPort(port);
}

SocketAddress::SocketAddress(const SocketAddress& addr) { *this = addr; }

SocketAddress& SocketAddress::operator=(const SocketAddress& addr) {
  hostname_ = addr.hostname_;
  ip_ = addr.ip_;
  port_ = addr.port_;
  literal_ = addr.literal_;
  return *this;
}

void SocketAddress::Clear() {
  hostname_.clear();
  literal_ = false;
  ip_ = AnyV4();
  port_ = 0;
}

bool SocketAddress::SetIP(const std::string& hostname) {
  hostname_ = hostname;
  literal_ = IPFromString(hostname, &ip_);
  if (!literal_) ip_ = AnyV4();
  return literal_;
}

void SocketAddress::SetIP(uint32_t ip_as_host_order_integer) {
  SetIP(IPAddress(ip_as_host_order_integer));
}

void SocketAddress::SetIP(const IPAddress& ip) {
  hostname_.clear();
  literal_ = false;
  ip_ = ip;
}

void SocketAddress::SetResolvedIP(const IPAddress& ip) { ip_ = ip; }

void SocketAddress::SetResolvedIP(uint32_t ip_as_host_order_integer) {
  SetResolvedIP(IPAddress(ip_as_host_order_integer));
}

void SocketAddress::SetPort(int port) { port_ = static_cast<uint16_t>(port); }

uint32_t SocketAddress::GetIP() const { return ip_.V4AddressAsHostOrderInteger(); }

std::string SocketAddress::HostAsURIString() const {
  if (!literal_ && !hostname_.empty()) return hostname_;
  if (ip_.family() == AF_INET6) return "[" + ip_.ToString() + "]";
  return ip_.ToString();
}

std::string SocketAddress::PortAsString() const {
  std::ostringstream os;
  os << port_;
  return os.str();
}

std::string SocketAddress::ToString() const {
  return HostAsURIString() + ":" + PortAsString();
}

std::ostream& operator<<(std::ostream& os, const SocketAddress& addr) {
  return os << addr.ToString();
}

bool SocketAddress::FromString(const std::string& str) {
  if (str.empty()) return false;
  if (str[0] == '[') {
    const std::string::size_type closebracket = str.rfind(']');
    // A bracket that is never closed is as malformed as a missing colon.
    if (closebracket == std::string::npos) return false;
    const std::string::size_type colon = str.find(':', closebracket);
    if (colon == std::string::npos || colon <= closebracket) return false;
    SetPort(ParsePort(str.c_str() + colon + 1));
    SetIP(str.substr(1, closebracket - 1));
    return true;
  }
  const std::string::size_type pos = str.find(':');
  if (pos == std::string::npos) return false;
  SetPort(ParsePort(str.c_str() + pos + 1));
  SetIP(str.substr(0, pos));
  return true;
}

bool SocketAddress::IsNil() const {
  return hostname_.empty() && IPIsAny(ip_) && port_ == 0;
}

bool SocketAddress::IsComplete() const {
  return !IPIsAny(ip_) && port_ != 0;
}

bool SocketAddress::IsAnyIP() const { return IPIsAny(ip_); }

bool SocketAddress::IsUnresolvedIP() const {
  return IPIsAny(ip_) && !literal_ && !hostname_.empty();
}

bool SocketAddress::IsLoopbackIP() const {
  if (IPIsLoopback(ip_)) return true;
  return IPIsAny(ip_) && hostname_ == "localhost";
}

bool SocketAddress::IsLocalIP() const {
  if (IsLoopbackIP()) return true;
  if (IPIsAny(ip_)) {
    return !hostname_.empty() &&
           strcasecmp(hostname_.c_str(), GetHostname().c_str()) == 0;
  }
  std::vector<IPAddress> ips;
  if (!GetLocalIPs(&ips)) return false;
  for (const IPAddress& local : ips) {
    if (local == ip_) return true;
  }
  return false;
}

bool SocketAddress::IsPrivateIP() const { return IPIsPrivate(ip_); }

bool SocketAddress::ResolveIP(bool force, int* error) {
  if (hostname_.empty() || !(force || IPIsAny(ip_))) return !IPIsAny(ip_);
  LOG(LS_VERBOSE) << "ResolveIP" << ": " << "(" << hostname_ << ")";
  int errcode = 0;
  if (hostent* pHost = SafeGetHostByName(hostname_.c_str(), &errcode)) {
    IPAddress resolved;
    if (IPFromHostEnt(pHost, &resolved)) {
      ip_ = resolved;
      LOG(LS_VERBOSE) << "ResolveIP" << ": " << "(" << hostname_
                      << ") resolved to: " << ip_.ToString();
    } else {
      // An entry without a usable address resolves nothing.
      errcode = NO_DATA;
    }
    FreeHostEnt(pHost);
  } else {
    LOG(LS_ERROR) << "ResolveIP" << ": " << "(" << hostname_
                  << ") err: " << errcode;
  }
  if (error) *error = errcode;
  return !IPIsAny(ip_);
}

bool SocketAddress::operator==(const SocketAddress& addr) const {
  return EqualIPs(addr) && EqualPorts(addr);
}

bool SocketAddress::operator<(const SocketAddress& addr) const {
  if (ip_ != addr.ip_) return ip_ < addr.ip_;
  // Unresolved names differ by their text.
  if (IPIsAny(addr.ip_) && hostname_ != addr.hostname_) {
    return hostname_ < addr.hostname_;
  }
  return port_ < addr.port_;
}

bool SocketAddress::EqualIPs(const SocketAddress& addr) const {
  return ip_ == addr.ip_ && (!IPIsAny(addr.ip_) || hostname_ == addr.hostname_);
}

bool SocketAddress::EqualPorts(const SocketAddress& addr) const {
  return port_ == addr.port_;
}

size_t SocketAddress::Hash() const {
  size_t h = HashIP(ip_);
  h ^= port_ | (static_cast<uint32_t>(port_) << 16);
  return h;
}

size_t SocketAddress::Size() const { return kHeaderSize + ip_.Size(); }

bool SocketAddress::Write(char* buf, int len) const {
  const char code = CodeOfFamily(ip_.family());
  if (!code || len < 0 || static_cast<size_t>(len) < Size()) return false;
  buf[0] = 0;
  buf[1] = code;
  buf[2] = static_cast<char>(port_ >> 8);
  buf[3] = static_cast<char>(port_ & 0xFF);
  if (ip_.family() == AF_INET) {
    const in_addr v4 = ip_.GetIPv4Address();
    memcpy(buf + kHeaderSize, &v4, sizeof(v4));
  } else {
    const in6_addr v6 = ip_.GetIPv6Address();
    memcpy(buf + kHeaderSize, &v6, sizeof(v6));
  }
  return true;
}

bool SocketAddress::Read(const char* buf, int len) {
  if (len < static_cast<int>(kHeaderSize)) return false;
  const int family = FamilyOfCode(buf[1]);
  if (family == AF_INET) {
    if (len < static_cast<int>(kHeaderSize + sizeof(in_addr))) return false;
    in_addr v4;
    memcpy(&v4, buf + kHeaderSize, sizeof(v4));
    ip_ = IPAddress(v4);
  } else if (family == AF_INET6) {
    if (len < static_cast<int>(kHeaderSize + sizeof(in6_addr))) return false;
    in6_addr v6;
    memcpy(&v6, buf + kHeaderSize, sizeof(v6));
    ip_ = IPAddress(v6);
  } else {
    return false;
  }
  port_ = static_cast<uint16_t>(
      (static_cast<unsigned char>(buf[2]) << 8) |
      static_cast<unsigned char>(buf[3]));
  return true;
}

void SocketAddress::ToSockAddr(sockaddr_in* saddr) const {
  memset(saddr, 0, sizeof(*saddr));
  if (ip_.family() != AF_INET) return;
  saddr->sin_family = AF_INET;
  saddr->sin_port = htons(port_);
  saddr->sin_addr = ip_.GetIPv4Address();
}

bool SocketAddress::FromSockAddr(const sockaddr_in& saddr) {
  if (saddr.sin_family != AF_INET) return false;
  SetIP(ntohl(saddr.sin_addr.s_addr));
  SetPort(ntohs(saddr.sin_port));
  return true;
}

int SocketAddress::ToSockAddrStorage(sockaddr_storage* saddr) const {
  return ToSockAddrStorageHelper(saddr, ip_, port_);
}

int SocketAddress::ToDualStackSockAddrStorage(sockaddr_storage* saddr) const {
  return ToSockAddrStorageHelper(saddr, ip_.AsIPv6Address(), port_);
}

int ToSockAddrStorageHelper(sockaddr_storage* addr, const IPAddress& ip,
                            int port) {
  memset(addr, 0, sizeof(*addr));
  addr->ss_family = static_cast<sa_family_t>(ip.family());
  if (ip.family() == AF_INET) {
    sockaddr_in* saddr = reinterpret_cast<sockaddr_in*>(addr);
    saddr->sin_addr = ip.GetIPv4Address();
    saddr->sin_port = htons(static_cast<uint16_t>(port));
    return static_cast<int>(sizeof(sockaddr_in));
  }
  if (ip.family() == AF_INET6) {
    sockaddr_in6* saddr = reinterpret_cast<sockaddr_in6*>(addr);
    saddr->sin6_addr = ip.GetIPv6Address();
    saddr->sin6_port = htons(static_cast<uint16_t>(port));
    return static_cast<int>(sizeof(sockaddr_in6));
  }
  return 0;
}

bool SocketAddressFromSockAddrStorage(const sockaddr_storage& addr,
                                      SocketAddress* out) {
  if (!out) return false;
  if (addr.ss_family == AF_INET) {
    const sockaddr_in* saddr = reinterpret_cast<const sockaddr_in*>(&addr);
    *out = SocketAddress(IPAddress(saddr->sin_addr), ntohs(saddr->sin_port));
    return true;
  }
  if (addr.ss_family == AF_INET6) {
    const sockaddr_in6* saddr = reinterpret_cast<const sockaddr_in6*>(&addr);
    *out = SocketAddress(IPAddress(saddr->sin6_addr), ntohs(saddr->sin6_port));
    return true;
  }
  return false;
}

bool SocketAddress::StringToIP(const std::string& hostname, uint32_t* ip) {
  in_addr addr;
  if (InetPton(AF_INET, hostname.c_str(), &addr) <= 0) return false;
  if (ip) *ip = ntohl(addr.s_addr);
  return true;
}

uint32_t SocketAddress::StringToIP(const std::string& hostname) {
  uint32_t ip = 0;
  StringToIP(hostname, &ip);
  return ip;
}

bool SocketAddress::StringToIP(const std::string& hostname, IPAddress* ip) {
  in_addr addr4;
  if (InetPton(AF_INET, hostname.c_str(), &addr4) > 0) {
    if (ip) *ip = IPAddress(addr4);
    return true;
  }
  in6_addr addr6;
  if (InetPton(AF_INET6, hostname.c_str(), &addr6) > 0) {
    if (ip) *ip = IPAddress(addr6);
    return true;
  }
  return false;
}

std::string SocketAddress::IPToString(uint32_t ip_as_host_order_integer) {
  std::ostringstream os;
  os << ((ip_as_host_order_integer >> 24) & 0xff) << '.'
     << ((ip_as_host_order_integer >> 16) & 0xff) << '.'
     << ((ip_as_host_order_integer >> 8) & 0xff) << '.'
     << (ip_as_host_order_integer & 0xff);
  return os.str();
}

std::string SocketAddress::GetHostname() {
  char hostname[256];
  if (gethostname(hostname, sizeof(hostname)) != 0) return std::string();
  // A name that fills the buffer comes back without its terminator.
  hostname[sizeof(hostname) - 1] = '\0';
  return hostname;
}

bool SocketAddress::GetLocalIPs(std::vector<IPAddress>* ips) {
  if (!ips) return false;
  ips->clear();
  const std::string hostname = GetHostname();
  if (hostname.empty()) return false;
  int errcode = 0;
  hostent* pHost = SafeGetHostByName(hostname.c_str(), &errcode);
  if (!pHost) {
    LOG(LS_ERROR) << "gethostbyname err: " << errcode;
    return false;
  }
  IPAddress ip;
  for (int i = 0; pHost->h_addr_list && pHost->h_addr_list[i]; ++i) {
    if (IPFromHostEnt(pHost, i, &ip)) ips->push_back(ip);
  }
  FreeHostEnt(pHost);
  return !ips->empty();
}

}  // namespace talk_base
