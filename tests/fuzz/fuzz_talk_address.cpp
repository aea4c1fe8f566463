// Fuzz target: the base library's address parsers: IP and socket-address
// text (IPFromString, SocketAddress::FromString, StringToIP, InetPton) and
// the binary form (SocketAddress::Read). No name is ever resolved.
//
// The input is text, then, after its first NUL, bytes for the binary form.
// Invariants: a parsed IP writes a text that parses to the same IP, and the
// IPv4-mapped form normalises back; a literal socket address writes a text
// that parses to the same IP and port; the binary and system forms round
// trip; an address equals itself and is not less than itself.
#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "talk/base/ipaddress.h"
#include "talk/base/nethelpers.h"
#include "talk/base/socketaddress.h"

namespace {

using talk_base::IPAddress;
using talk_base::SocketAddress;

void checkOrder(const SocketAddress& address)
{
    FUZZ_CHECK(address == address && !(address < address), "order of " + address.ToString());
    FUZZ_CHECK(address.Hash() == SocketAddress(address).Hash(), "hash of a copy");
    address.IsNil();
    address.IsComplete();
    address.IsAnyIP();
    address.IsUnresolvedIP();
    address.IsLoopbackIP();
    address.IsPrivateIP();
    address.HostAsURIString();
}

// Binary and system forms of an address with an IP family.
void checkForms(const SocketAddress& address)
{
    const IPAddress& ip = address.GetIPAddress();
    const size_t size = address.Size();
    std::vector<char> buffer(size ? size : 1);
    const bool written = address.Write(buffer.data(), static_cast<int>(size));
    FUZZ_CHECK(written == (ip.family() == AF_INET || ip.family() == AF_INET6), "Write of " + address.ToString());
    if (written) {
        SocketAddress read;
        FUZZ_CHECK(read.Read(buffer.data(), static_cast<int>(size)), "Read of a written address");
        FUZZ_CHECK(read.GetIPAddress() == ip && read.GetPort() == address.GetPort(), "binary round trip");
        FUZZ_CHECK(!address.Write(buffer.data(), static_cast<int>(size) - 1), "Write into too small a buffer");
    }
    sockaddr_storage storage;
    if (address.ToSockAddrStorage(&storage) > 0) {
        SocketAddress back;
        FUZZ_CHECK(talk_base::SocketAddressFromSockAddrStorage(storage, &back), "storage round trip");
        FUZZ_CHECK(back.GetIPAddress() == ip && back.GetPort() == address.GetPort(), "storage round trip");
    }
    if (address.ToDualStackSockAddrStorage(&storage) > 0) {
        SocketAddress back;
        FUZZ_CHECK(talk_base::SocketAddressFromSockAddrStorage(storage, &back), "dual-stack round trip");
        FUZZ_CHECK(back.GetIPAddress().Normalized() == ip.Normalized(), "dual-stack round trip");
    }
    sockaddr_in v4;
    address.ToSockAddr(&v4);
    SocketAddress fromV4;
    FUZZ_CHECK(fromV4.FromSockAddr(v4) == (ip.family() == AF_INET), "FromSockAddr");
}

void checkIp(const std::string& text)
{
    IPAddress ip;
    FUZZ_CHECK(!talk_base::IPFromString(text, nullptr), "a null out-address");
    if (!talk_base::IPFromString(text, &ip)) {
        FUZZ_CHECK(ip.family() == 0, "a refused text left a family");
        return;
    }
    FUZZ_CHECK(ip.family() == AF_INET || ip.family() == AF_INET6, "family");
    IPAddress back;
    FUZZ_CHECK(talk_base::IPFromString(ip.ToString(), &back) && back == ip, "text round trip of " + text);
    FUZZ_CHECK(ip.AsIPv6Address().Normalized() == ip.Normalized(), "mapped form of " + text);
    FUZZ_CHECK(!(ip < ip) && !(ip > ip) && ip == IPAddress(ip), "order of " + text);
    talk_base::IPIsAny(ip);
    talk_base::IPIsLoopback(ip);
    talk_base::IPIsPrivate(ip);
    talk_base::HashIP(ip);
    checkForms(SocketAddress(ip, static_cast<int>(text.size())));
}

void checkPton(const std::string& text)
{
    const int families[] = {AF_INET, AF_INET6};
    for (int family : families) {
        unsigned char bytes[16] = {};
        if (talk_base::InetPton(family, text.c_str(), bytes) != 1)
            continue;
        char written[INET6_ADDRSTRLEN] = {};
        FUZZ_CHECK(talk_base::InetNtop(family, bytes, written, sizeof written) != nullptr, "InetNtop");
        unsigned char again[16] = {};
        FUZZ_CHECK(talk_base::InetPton(family, written, again) == 1 && std::memcmp(bytes, again, sizeof bytes) == 0,
                   "InetPton round trip of " + text);
    }
}

void checkSocketAddress(const std::string& text)
{
    SocketAddress address;
    if (!address.FromString(text))
        return;
    checkOrder(address);
    checkForms(address);
    if (address.literal()) {
        SocketAddress back;
        FUZZ_CHECK(back.FromString(address.ToString()), "a literal address writes no address: " + text);
        FUZZ_CHECK(back.GetIPAddress() == address.GetIPAddress() && back.GetPort() == address.GetPort(),
                   "literal round trip of " + text);
    }
    SocketAddress named(text, 80);
    checkOrder(named);

    uint32_t v4 = 0;
    if (SocketAddress::StringToIP(text, &v4))
        FUZZ_CHECK(SocketAddress::StringToIP(SocketAddress::IPToString(v4)) == v4, "IPv4 round trip of " + text);
    IPAddress ip;
    SocketAddress::StringToIP(text, &ip);
    SocketAddress::StringToIP(text, static_cast<IPAddress*>(nullptr));
}

void checkBinary(const std::vector<char>& bytes)
{
    SocketAddress address;
    if (!address.Read(bytes.data(), static_cast<int>(bytes.size())))
        return;
    checkOrder(address);
    std::vector<char> written(address.Size());
    FUZZ_CHECK(address.Write(written.data(), static_cast<int>(written.size())), "Write after Read");
    FUZZ_CHECK(written[0] == 0 && std::memcmp(written.data() + 1, bytes.data() + 1, written.size() - 1) == 0,
               "binary round trip");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::FuzzInput in(data, size);
    const std::string text = in.until('\0');
    // A heap block of exactly the binary bytes, so a read past them is caught.
    const std::string rest = in.rest();
    const std::vector<char> binary(rest.begin(), rest.end());
    checkIp(text);
    checkPton(text);
    checkSocketAddress(text);
    checkBinary(binary);
    return 0;
}
