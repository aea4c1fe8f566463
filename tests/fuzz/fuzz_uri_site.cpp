// Fuzz target: a page address, whole, through the address parser (FB::URI)
// and the installer's site check.
//
// Invariants besides "no crash": a parsed address has a lower-case
// alphanumeric protocol and a lower-case host without a host terminator;
// the written form of an address parses back to the same host and port;
// decoding undoes encoding. An accepted site is an http or https address
// whose host is a vendor domain or a name under one, holds no control byte,
// and the address holds no blocked entry.
#include <cstdint>
#include <stdexcept>
#include <string>

#include <boost/lexical_cast.hpp>

#include "FuzzInput.h"
#include "URI.h"
#include "kzohelpers.h"

namespace {

bool isLowerAlnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
}

std::string asciiLower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Parses as the page's address parser does; false for the two refusals it
// documents (a bad protocol, a bad port).
bool parse(const std::string& address, FB::URI* out)
{
    try {
        *out = FB::URI(address);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    } catch (const boost::bad_lexical_cast&) {
        return false;
    }
}

void checkUri(const std::string& address)
{
    FB::URI uri("");
    if (!parse(address, &uri))
        return;
    for (char c : uri.protocol)
        FUZZ_CHECK(isLowerAlnum(static_cast<unsigned char>(c)), "protocol " + uri.protocol);
    FUZZ_CHECK(uri.domain == asciiLower(uri.domain), "domain " + uri.domain);
    FUZZ_CHECK(uri.domain.find_first_of("/\\?#") == std::string::npos, "domain " + uri.domain);

    const std::string written = uri.toString(true);
    FB::URI back("");
    FUZZ_CHECK(parse(written, &back), "the written form " + written + " does not parse");
    FUZZ_CHECK(back.domain == uri.domain, "host " + uri.domain + " written as " + written + " reads back as " + back.domain);
    FUZZ_CHECK(back.port == uri.port, "port of " + written);

    FUZZ_CHECK(FB::URI::urlDecode(FB::URI::urlEncode(uri.path)) == uri.path, "path " + uri.path);
}

void checkSite(const std::string& address)
{
    if (!isValidSite(address))
        return;
    const std::string lower = asciiLower(address);
    FUZZ_CHECK(startsWith(lower, "http://") || startsWith(lower, "https://"), "accepted " + address);
    FB::URI uri("");
    FUZZ_CHECK(parse(address, &uri), "accepted but unparsable " + address);
    bool vendorHost = false;
    for (const std::string& domain : allowedDomains)
        vendorHost = vendorHost || uri.domain == domain || endsWith(uri.domain, "." + domain);
    FUZZ_CHECK(vendorHost, "accepted host " + uri.domain);
    for (char c : uri.domain) {
        const unsigned char byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(byte >= 0x20 && byte != 0x7f, "accepted host with a control byte: " + address);
    }
    for (const std::string& blocked : blockedDomains)
        FUZZ_CHECK(address.find(blocked) == std::string::npos, "accepted with a blocked entry: " + address);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string address(reinterpret_cast<const char*>(data), size);
    checkUri(address);
    checkSite(address);
    return 0;
}
