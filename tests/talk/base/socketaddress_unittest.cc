// IP addresses, socket addresses and host lookup. Lookups go through the
// lookup seam or use numeric names only; nothing here asks a name server.
#include "talk/base/socketaddress.h"

#include <arpa/inet.h>
#include <errno.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "logcapture.h"
#include "talk/base/nethelpers.h"

namespace talk_base {
namespace {

IPAddress IP(const std::string& text) {
  IPAddress ip;
  EXPECT_TRUE(IPFromString(text, &ip)) << text;
  return ip;
}

// Parsing

struct ParseCase {
  const char* text;
  bool ok;
  const char* hostname;  // after parsing
  const char* ip;        // IP text after parsing
  int port;
  bool literal;
};

TEST(SocketAddressTest, FromString) {
  const ParseCase kCases[] = {
      {"1.2.3.4:80", true, "1.2.3.4", "1.2.3.4", 80, true},
      {"example:80", true, "example", "0.0.0.0", 80, false},
      {"[::1]:5", true, "::1", "::1", 5, true},
      {"[fe80::1]:65535", true, "fe80::1", "fe80::1", 65535, true},
      {"host:70000", true, "host", "0.0.0.0", 70000 & 0xFFFF, false},
      {"host:http", true, "host", "0.0.0.0", 0, false},
      {"host:-1", true, "host", "0.0.0.0", 65535, false},
      {"host:  42", true, "host", "0.0.0.0", 42, false},
      {"::1:80", true, "", "0.0.0.0", 0, false},  // splits at the first ":"
      {"1.2.3.4:", true, "1.2.3.4", "1.2.3.4", 0, true},
      {"[::1]", false, "", "0.0.0.0", 0, false},
      {"[::1]x5", false, "", "0.0.0.0", 0, false},
      {"[::1:5", false, "", "0.0.0.0", 0, false},
      {"host", false, "", "0.0.0.0", 0, false},
      {"", false, "", "0.0.0.0", 0, false},
  };
  for (const ParseCase& c : kCases) {
    SCOPED_TRACE(c.text);
    SocketAddress addr;
    EXPECT_EQ(c.ok, addr.FromString(c.text));
    EXPECT_EQ(c.hostname, addr.hostname());
    EXPECT_EQ(c.ip, addr.GetIPAddress().ToString());
    EXPECT_EQ(c.port, addr.GetPort());
    EXPECT_EQ(c.literal, addr.literal());
  }
}

TEST(SocketAddressTest, MalformedTextLeavesTheAddressAlone) {
  SocketAddress addr("9.8.7.6", 1234);
  EXPECT_FALSE(addr.FromString("[::1]"));
  EXPECT_FALSE(addr.FromString("[oops"));
  EXPECT_FALSE(addr.FromString(""));
  EXPECT_EQ("9.8.7.6:1234", addr.ToString());
}

// Printing

TEST(SocketAddressTest, ToString) {
  const struct {
    SocketAddress addr;
    const char* text;
  } kCases[] = {
      {SocketAddress("1.2.3.4", 80), "1.2.3.4:80"},
      {SocketAddress("::1", 5), "[::1]:5"},
      {SocketAddress("example.com", 443), "example.com:443"},
      {SocketAddress(0x7F000001u, 8080), "127.0.0.1:8080"},
      {SocketAddress(IP("2001:db8::7"), 1), "[2001:db8::7]:1"},
      {SocketAddress(), "0.0.0.0:0"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.text, c.addr.ToString());
    std::ostringstream os;
    os << c.addr;
    EXPECT_EQ(c.text, os.str());
  }
  EXPECT_EQ("10.0.0.1", SocketAddress::IPToString(0x0A000001));
  EXPECT_EQ("255.0.255.1", SocketAddress::IPToString(0xFF00FF01));
  EXPECT_EQ("", IPAddress().ToString());
}

TEST(SocketAddressTest, StringToIP) {
  uint32_t ip = 0;
  EXPECT_TRUE(SocketAddress::StringToIP("10.0.0.1", &ip));
  EXPECT_EQ(0x0A000001u, ip);
  EXPECT_FALSE(SocketAddress::StringToIP("::1", &ip));
  EXPECT_EQ(0u, SocketAddress::StringToIP("nonsense"));
  EXPECT_EQ(0xC0A80101u, SocketAddress::StringToIP("192.168.1.1"));
  IPAddress out;
  EXPECT_TRUE(SocketAddress::StringToIP("::1", &out));
  EXPECT_EQ(AF_INET6, out.family());
  EXPECT_TRUE(SocketAddress::StringToIP("1.2.3.4", static_cast<IPAddress*>(nullptr)));
  EXPECT_FALSE(SocketAddress::StringToIP("1.2.3", &out));
}

// IP addresses

TEST(IPAddressTest, ParsingAndFamilies) {
  const struct {
    const char* text;
    bool ok;
    int family;
    size_t size;
  } kCases[] = {
      {"1.2.3.4", true, AF_INET, 4},
      {"::", true, AF_INET6, 16},
      {"::ffff:1.2.3.4", true, AF_INET6, 16},
      {"1.2.3", false, 0, 0},
      {"256.1.1.1", false, 0, 0},
      {" 1.2.3.4", false, 0, 0},
      {"example", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    IPAddress ip(0x01020304u);
    EXPECT_EQ(c.ok, IPFromString(c.text, &ip));
    EXPECT_EQ(c.family, ip.family());
    EXPECT_EQ(c.size, ip.Size());
  }
  EXPECT_FALSE(IPFromString("1.2.3.4", nullptr));
}

TEST(IPAddressTest, MappedForms) {
  EXPECT_EQ(IP("::ffff:1.2.3.4"), IP("1.2.3.4").AsIPv6Address());
  EXPECT_EQ(IP("1.2.3.4"), IP("::ffff:1.2.3.4").Normalized());
  EXPECT_EQ(IP("::1"), IP("::1").AsIPv6Address());
  EXPECT_EQ(IP("::1"), IP("::1").Normalized());
  EXPECT_EQ(IP("1.2.3.4"), IP("1.2.3.4").Normalized());
  EXPECT_EQ(0x01020304u, IP("1.2.3.4").V4AddressAsHostOrderInteger());
  EXPECT_EQ(0u, IP("::1").V4AddressAsHostOrderInteger());
}

TEST(IPAddressTest, Classification) {
  const struct {
    const char* text;
    bool any, loopback, priv;
  } kCases[] = {
      {"0.0.0.0", true, false, false},
      {"::", true, false, false},
      {"127.0.0.1", false, true, true},
      {"127.0.0.2", false, false, true},
      {"::1", false, true, true},
      {"10.255.0.1", false, false, true},
      {"172.16.0.0", false, false, true},
      {"172.31.255.255", false, false, true},
      {"172.32.0.0", false, false, false},
      {"192.168.5.5", false, false, true},
      {"192.169.0.1", false, false, false},
      {"169.254.1.1", false, false, true},
      {"8.8.8.8", false, false, false},
      {"fe80::1", false, false, true},
      {"fe80:ffff::1", false, false, true},  // the whole /16
      {"fe81::1", false, false, false},
      {"2001:db8::1", false, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    const IPAddress ip = IP(c.text);
    EXPECT_EQ(c.any, IPIsAny(ip));
    EXPECT_EQ(c.loopback, IPIsLoopback(ip));
    EXPECT_EQ(c.priv, IPIsPrivate(ip));
  }
  EXPECT_FALSE(IPIsAny(IPAddress()));
  EXPECT_FALSE(IPIsPrivate(IPAddress()));
}

TEST(IPAddressTest, OrderingAndEquality) {
  // Each entry is less than every later one.
  const std::vector<IPAddress> kOrdered = {
      IPAddress(),  IP("0.0.0.0"), IP("1.2.3.4"), IP("1.2.3.5"),
      IP("200.0.0.0"), IP("::"),   IP("::1"),     IP("fe80::1"),
  };
  for (size_t i = 0; i < kOrdered.size(); ++i) {
    for (size_t j = 0; j < kOrdered.size(); ++j) {
      SCOPED_TRACE(kOrdered[i].ToString() + " vs " + kOrdered[j].ToString());
      EXPECT_EQ(i < j, kOrdered[i] < kOrdered[j]);
      EXPECT_EQ(i > j, kOrdered[i] > kOrdered[j]);
      EXPECT_EQ(i == j, kOrdered[i] == kOrdered[j]);
      EXPECT_EQ(i != j, kOrdered[i] != kOrdered[j]);
    }
  }
  EXPECT_NE(IP("1.2.3.4"), IP("::ffff:1.2.3.4"));
}

TEST(IPAddressTest, Hash) {
  EXPECT_EQ(htonl(0x0A000001u), HashIP(IP("10.0.0.1")));
  const in6_addr v6 = IP("1:2:3:4:5:6:7:8").GetIPv6Address();
  uint32_t w[4];
  memcpy(w, &v6, sizeof(w));
  EXPECT_EQ(w[0] ^ w[1] ^ w[2] ^ w[3], HashIP(IP("1:2:3:4:5:6:7:8")));
  EXPECT_EQ(0u, HashIP(IPAddress()));
  EXPECT_EQ(HashIP(IP("10.0.0.1")) ^ (80u * 65537u),
            SocketAddress("10.0.0.1", 80).Hash());
}

// Socket address comparisons

TEST(SocketAddressTest, EqualityAndOrdering) {
  const SocketAddress a("1.2.3.4", 80);
  EXPECT_EQ(a, SocketAddress(0x01020304u, 80));  // names do not matter
  EXPECT_NE(a, SocketAddress("1.2.3.4", 81));
  // With the any IP the names decide.
  EXPECT_NE(SocketAddress("alpha", 80), SocketAddress("beta", 80));
  EXPECT_EQ(SocketAddress("alpha", 80), SocketAddress("alpha", 80));
  EXPECT_NE(SocketAddress("alpha", 80), SocketAddress("alpha", 81));

  const std::vector<SocketAddress> kOrdered = {
      SocketAddress("", 0),     SocketAddress("alpha", 1),
      SocketAddress("alpha", 2), SocketAddress("beta", 1),
      SocketAddress("1.0.0.0", 9), SocketAddress("1.0.0.1", 1),
      SocketAddress("::1", 1),
  };
  for (size_t i = 0; i < kOrdered.size(); ++i) {
    for (size_t j = 0; j < kOrdered.size(); ++j) {
      SCOPED_TRACE(kOrdered[i].ToString() + " vs " + kOrdered[j].ToString());
      EXPECT_EQ(i < j, kOrdered[i] < kOrdered[j]);
    }
  }
}

TEST(SocketAddressTest, Predicates) {
  const struct {
    SocketAddress addr;
    bool nil, complete, any, unresolved, loopback;
  } kCases[] = {
      {SocketAddress(), true, false, true, false, false},
      {SocketAddress("", 5), false, false, true, false, false},
      {SocketAddress("1.2.3.4", 0), false, false, false, false, false},
      {SocketAddress("1.2.3.4", 5), false, true, false, false, false},
      {SocketAddress("name", 5), false, false, true, true, false},
      {SocketAddress("localhost", 5), false, false, true, true, true},
      {SocketAddress("LOCALHOST", 5), false, false, true, true, false},
      {SocketAddress("127.0.0.1", 5), false, true, false, false, true},
      {SocketAddress("0.0.0.0", 5), false, false, true, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.addr.ToString());
    EXPECT_EQ(c.nil, c.addr.IsNil());
    EXPECT_EQ(c.complete, c.addr.IsComplete());
    EXPECT_EQ(c.any, c.addr.IsAnyIP());
    EXPECT_EQ(c.unresolved, c.addr.IsUnresolvedIP());
    EXPECT_EQ(c.loopback, c.addr.IsLoopbackIP());
  }
  EXPECT_TRUE(SocketAddress("10.1.1.1", 1).IsPrivateIP());
  EXPECT_TRUE(SocketAddress("localhost", 1).IsLocalIP());
  EXPECT_TRUE(SocketAddress("127.0.0.1", 1).IsLocalIP());
  const std::string host = SocketAddress::GetHostname();
  if (!host.empty()) {
    std::string upper = host;
    for (char& ch : upper) ch = static_cast<char>(toupper(ch));
    EXPECT_TRUE(SocketAddress(upper, 1).IsLocalIP());
  }
}

TEST(SocketAddressTest, SettersKeepOrDropTheName) {
  SocketAddress addr("name", 1);
  addr.SetResolvedIP(IP("5.6.7.8"));
  EXPECT_EQ("name", addr.hostname());
  EXPECT_EQ("name:1", addr.ToString());
  EXPECT_EQ(0x05060708u, addr.GetIP());
  addr.SetIP(0x01010101u);
  EXPECT_EQ("", addr.hostname());
  EXPECT_FALSE(addr.literal());
  EXPECT_EQ("1.1.1.1:1", addr.ToString());
  EXPECT_TRUE(addr.SetIP("::2"));
  EXPECT_EQ(0u, addr.GetIP());
  EXPECT_FALSE(addr.SetIP("other"));
  EXPECT_TRUE(addr.IsAnyIP());
  addr.SetPort(0x12345);
  EXPECT_EQ(0x2345, addr.GetPort());
  EXPECT_EQ("9029", addr.PortAsString());
  addr.Clear();
  EXPECT_TRUE(addr.IsNil());
  EXPECT_EQ(AF_INET, addr.GetIPAddress().family());
}

// Binary form

TEST(SocketAddressTest, BinaryForm) {
  const struct {
    SocketAddress addr;
    std::vector<unsigned char> bytes;
  } kCases[] = {
      {SocketAddress("10.0.0.1", 4660),
       {0x00, 0x01, 0x12, 0x34, 0x0a, 0x00, 0x00, 0x01}},
      {SocketAddress("::1", 0xBEEF),
       {0x00, 0x02, 0xBE, 0xEF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        1}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.addr.ToString());
    EXPECT_EQ(c.bytes.size(), c.addr.Size());
    std::vector<char> buf(c.bytes.size() + 2, 'x');
    EXPECT_FALSE(c.addr.Write(buf.data(), static_cast<int>(c.bytes.size() - 1)));
    ASSERT_TRUE(c.addr.Write(buf.data(), static_cast<int>(buf.size())));
    EXPECT_EQ(0, memcmp(c.bytes.data(), buf.data(), c.bytes.size()));

    SocketAddress back("keep", 1);
    EXPECT_FALSE(back.Read(buf.data(), static_cast<int>(c.bytes.size() - 1)));
    ASSERT_TRUE(back.Read(buf.data(), static_cast<int>(c.bytes.size())));
    EXPECT_EQ(c.addr.GetIPAddress(), back.GetIPAddress());
    EXPECT_EQ(c.addr.GetPort(), back.GetPort());
    EXPECT_EQ("keep", back.hostname());  // the name is not part of the form
  }
  char buf[20] = {0, 3, 0, 1};
  SocketAddress addr;
  EXPECT_FALSE(addr.Read(buf, sizeof(buf)));  // unknown family code
  EXPECT_FALSE(addr.Read(buf, 3));
  SocketAddress no_family(IPAddress(), 1);
  EXPECT_EQ(4u, no_family.Size());
  EXPECT_FALSE(no_family.Write(buf, sizeof(buf)));
}

// System address structures

TEST(SocketAddressTest, SockAddrConversions) {
  sockaddr_in sin;
  SocketAddress("10.0.0.1", 4660).ToSockAddr(&sin);
  EXPECT_EQ(AF_INET, sin.sin_family);
  EXPECT_EQ(htons(4660), sin.sin_port);
  EXPECT_EQ(htonl(0x0A000001), sin.sin_addr.s_addr);
  SocketAddress back("old", 9);
  ASSERT_TRUE(back.FromSockAddr(sin));
  EXPECT_EQ("10.0.0.1:4660", back.ToString());
  EXPECT_EQ("", back.hostname());
  SocketAddress("::1", 1).ToSockAddr(&sin);
  EXPECT_EQ(0, sin.sin_family);
  EXPECT_FALSE(back.FromSockAddr(sin));

  sockaddr_storage ss;
  // The sizes are ints, as a socket call's length is taken.
  EXPECT_TRUE((std::is_same<int, decltype(SocketAddress().ToSockAddrStorage(&ss))>::value));
  EXPECT_TRUE((std::is_same<int, decltype(SocketAddress().ToDualStackSockAddrStorage(
                                     &ss))>::value));
  EXPECT_TRUE((std::is_same<int, decltype(ToSockAddrStorageHelper(&ss, IPAddress(),
                                                                  0))>::value));
  EXPECT_EQ(static_cast<int>(sizeof(sockaddr_in)),
            SocketAddress("1.2.3.4", 5).ToSockAddrStorage(&ss));
  SocketAddress out;
  ASSERT_TRUE(SocketAddressFromSockAddrStorage(ss, &out));
  EXPECT_EQ("1.2.3.4:5", out.ToString());
  EXPECT_EQ(static_cast<int>(sizeof(sockaddr_in6)),
            SocketAddress("1.2.3.4", 5).ToDualStackSockAddrStorage(&ss));
  ASSERT_TRUE(SocketAddressFromSockAddrStorage(ss, &out));
  EXPECT_EQ("[::ffff:1.2.3.4]:5", out.ToString());
  EXPECT_EQ(0, SocketAddress(IPAddress(), 5).ToSockAddrStorage(&ss));
  EXPECT_EQ(0, ToSockAddrStorageHelper(&ss, IPAddress(), 5));
  EXPECT_FALSE(SocketAddressFromSockAddrStorage(ss, &out));
  EXPECT_FALSE(SocketAddressFromSockAddrStorage(ss, nullptr));
}

// Host lookup through the seam.

struct FakeLookup {
  int calls = 0;
  std::vector<size_t> buffer_sizes;
  size_t needed = 0;          // ERANGE while the buffer is smaller
  int ret = 0;                // the answer once it fits
  int herrno = 0;
  bool found = true;
  int addrtype = AF_INET;
  std::vector<uint32_t> addresses;  // host order, IPv4
};
FakeLookup* g_fake = nullptr;

int FakeGetHostByName(const char* name, hostent* ret, char* buf,
                      size_t buflen, hostent** result, int* h_errnop) {
  FakeLookup& f = *g_fake;
  ++f.calls;
  f.buffer_sizes.push_back(buflen);
  *result = nullptr;
  if (buflen < f.needed) {
    *h_errnop = NETDB_INTERNAL;
    return ERANGE;
  }
  *h_errnop = f.herrno;
  if (f.ret != 0 || !f.found) return f.ret;
  // Lay the entry out in the work buffer as the system would.
  char** list = reinterpret_cast<char**>(buf);
  char* data = buf + sizeof(char*) * (f.addresses.size() + 1);
  for (size_t i = 0; i < f.addresses.size(); ++i) {
    const uint32_t net = htonl(f.addresses[i]);
    memcpy(data + 4 * i, &net, 4);
    list[i] = data + 4 * i;
  }
  list[f.addresses.size()] = nullptr;
  ret->h_name = const_cast<char*>(name);
  ret->h_aliases = nullptr;
  ret->h_addrtype = f.addrtype;
  ret->h_length = 4;
  ret->h_addr_list = list;
  *result = ret;
  return 0;
}

class HostLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake_;
    SetGetHostByNameForTesting(&FakeGetHostByName);
  }
  void TearDown() override {
    SetGetHostByNameForTesting(nullptr);
    g_fake = nullptr;
  }
  FakeLookup fake_;
};

TEST_F(HostLookupTest, BlockGrowsUpTo8192ThenGivesUp) {
  fake_.addresses = {0x0A000001};
  fake_.needed = 3000;
  int err = -5;
  hostent* entry = SafeGetHostByName("grows", &err);
  ASSERT_NE(nullptr, entry);
  EXPECT_EQ(0, err);
  EXPECT_EQ((std::vector<size_t>{1024 - 32, 2048 - 32, 4096 - 32}),
            fake_.buffer_sizes);
  IPAddress ip;
  EXPECT_TRUE(IPFromHostEnt(entry, &ip));
  EXPECT_EQ("10.0.0.1", ip.ToString());
  FreeHostEnt(entry);

  fake_.buffer_sizes.clear();
  fake_.needed = 100000;  // very many addresses
  EXPECT_EQ(nullptr, SafeGetHostByName("many", &err));
  EXPECT_NE(0, err);
  EXPECT_EQ((std::vector<size_t>{1024 - 32, 2048 - 32, 4096 - 32, 8192 - 32}),
            fake_.buffer_sizes);
}

TEST_F(HostLookupTest, NullAnswersAlwaysCarryAnError) {
  int err = 0;
  EXPECT_EQ(nullptr, SafeGetHostByName(nullptr, &err));
  EXPECT_EQ(nullptr, SafeGetHostByName("x", nullptr));
  EXPECT_EQ(0, fake_.calls);

  fake_.found = false;  // no entry, and the lookup says nothing
  EXPECT_EQ(nullptr, SafeGetHostByName("missing", &err));
  EXPECT_EQ(HOST_NOT_FOUND, err);
  fake_.herrno = TRY_AGAIN;
  EXPECT_EQ(nullptr, SafeGetHostByName("missing", &err));
  EXPECT_EQ(TRY_AGAIN, err);
  fake_.found = true;
  fake_.ret = EAGAIN;
  fake_.herrno = 0;
  EXPECT_EQ(nullptr, SafeGetHostByName("failing", &err));
  EXPECT_NE(0, err);
}

TEST_F(HostLookupTest, ResolveIP) {
  LogCapture capture;
  fake_.addresses = {0x7F000001, 0x0A000002};
  SocketAddress addr("somehost", 80);
  int err = -1;
  EXPECT_TRUE(addr.ResolveIP(false, &err));
  EXPECT_EQ(0, err);
  EXPECT_EQ("127.0.0.1", addr.GetIPAddress().ToString());
  EXPECT_EQ("somehost", addr.hostname());
  EXPECT_EQ(1, fake_.calls);
  // Resolved already: no second lookup unless forced.
  EXPECT_TRUE(addr.ResolveIP());
  EXPECT_EQ(1, fake_.calls);
  fake_.addresses = {0x0A000003};
  EXPECT_TRUE(addr.ResolveIP(true, &err));
  EXPECT_EQ("10.0.0.3", addr.GetIPAddress().ToString());

  fake_.found = false;
  SocketAddress missing("nowhere", 80);
  EXPECT_FALSE(missing.ResolveIP(false, &err));
  EXPECT_EQ(HOST_NOT_FOUND, err);
  EXPECT_TRUE(missing.IsAnyIP());

  // An entry without addresses, or of another type, resolves nothing.
  fake_.found = true;
  fake_.addresses.clear();
  EXPECT_FALSE(missing.ResolveIP(false, &err));
  EXPECT_NE(0, err);
  fake_.addresses = {0x0A000004};
  fake_.addrtype = AF_UNIX;
  err = 0;
  EXPECT_FALSE(missing.ResolveIP(false, &err));
  EXPECT_NE(0, err);
  EXPECT_TRUE(missing.IsAnyIP());

  // Nothing to resolve without a name.
  SocketAddress unnamed(0x01020304u, 1);
  EXPECT_TRUE(unnamed.ResolveIP(true));
  EXPECT_FALSE(SocketAddress().ResolveIP(true));

  const std::vector<std::string> lines = capture.Lines("socketaddress.cc");
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ("VERBOSE(socketaddress.cc): ResolveIP: (somehost)", lines[0]);
  EXPECT_EQ("VERBOSE(socketaddress.cc): ResolveIP: (somehost) resolved to: 127.0.0.1",
            lines[1]);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "ERROR(socketaddress.cc): ResolveIP: (nowhere) err: 1"),
            lines.end());
}

TEST_F(HostLookupTest, GetLocalIPs) {
  if (SocketAddress::GetHostname().empty()) GTEST_SKIP() << "no host name";
  LogCapture capture;
  fake_.addresses = {0x0A000001, 0x0A000002};
  std::vector<IPAddress> ips;
  ASSERT_TRUE(SocketAddress::GetLocalIPs(&ips));
  EXPECT_EQ((std::vector<IPAddress>{IP("10.0.0.1"), IP("10.0.0.2")}), ips);
  EXPECT_TRUE(SocketAddress("10.0.0.2", 1).IsLocalIP());
  EXPECT_FALSE(SocketAddress("10.0.0.3", 1).IsLocalIP());
  EXPECT_FALSE(SocketAddress::GetLocalIPs(nullptr));

  fake_.found = false;
  EXPECT_FALSE(SocketAddress::GetLocalIPs(&ips));
  EXPECT_TRUE(ips.empty());
  EXPECT_EQ(std::vector<std::string>{
                "ERROR(socketaddress.cc): gethostbyname err: 1"},
            capture.Lines("socketaddress.cc"));
}

TEST(HostLookupRealTest, NumericNameNeedsNoNameServer) {
  int err = -1;
  hostent* entry = SafeGetHostByName("127.0.0.1", &err);
  ASSERT_NE(nullptr, entry);
  EXPECT_EQ(0, err);
  IPAddress ip;
  EXPECT_TRUE(IPFromHostEnt(entry, &ip));
  EXPECT_EQ("127.0.0.1", ip.ToString());
  EXPECT_FALSE(IPFromHostEnt(entry, 1, &ip));
  EXPECT_FALSE(IPFromHostEnt(entry, -1, &ip));
  EXPECT_FALSE(IPFromHostEnt(entry, 0, nullptr));
  FreeHostEnt(entry);
}

}  // namespace
}  // namespace talk_base
