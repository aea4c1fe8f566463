#include "URI.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
// Asio's headers use fences that ThreadSanitizer does not model; the resolver
// here runs on the calling thread only. (GCC's warning; clang has none.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wtsan"
#endif
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <boost/lexical_cast.hpp>

namespace FB {

namespace {

// Byte-value character classes: page URLs carry arbitrary bytes, and the C
// classification functions are undefined for negative chars.
bool isAsciiAlnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int hexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string asciiLower(const std::string& in)
{
    std::string out(in);
    for (std::string::iterator it = out.begin(); it != out.end(); ++it) {
        const unsigned char c = static_cast<unsigned char>(*it);
        if (c >= 'A' && c <= 'Z')
            *it = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Bytes written unencoded besides letters and digits.
const char kUnreservedMarks[] = "!$'()*+,-./_";

bool isUnreserved(unsigned char c)
{
    if (isAsciiAlnum(c))
        return true;
    for (const char* m = kUnreservedMarks; *m; ++m) {
        if (c == static_cast<unsigned char>(*m))
            return true;
    }
    return false;
}

// Ends the host part; a slash or backslash stays as the start of the path.
const char kHostTerminators[] = "/\\?#";

} // namespace

URI::URI(const std::string& url) : port(0)
{
    std::string rest(url);

    const std::string::size_type schemeEnd = rest.find("://");
    if (schemeEnd != std::string::npos) {
        protocol = asciiLower(rest.substr(0, schemeEnd));
        rest.erase(0, schemeEnd + 3);
    }
    for (std::string::const_iterator it = protocol.begin(); it != protocol.end(); ++it) {
        if (!isAsciiAlnum(static_cast<unsigned char>(*it)))
            throw std::runtime_error("URI: invalid characters in protocol part");
    }

    if (protocol != "file") {
        std::string host;
        const std::string::size_type hostEnd = rest.find_first_of(kHostTerminators);
        if (hostEnd == std::string::npos) {
            host = rest;
            rest = "/";
        } else {
            host = rest.substr(0, hostEnd);
            rest.erase(0, hostEnd);
            // "http://h?x=1": the path is the root, as for a bare host.
            if (rest[0] == '?' || rest[0] == '#')
                rest.insert(0, "/");
        }

        const std::string::size_type at = host.find('@');
        if (at != std::string::npos) {
            login = host.substr(0, at);
            host.erase(0, at + 1);
        }

        const std::string::size_type colon = host.find(':');
        if (colon != std::string::npos) {
            domain = host.substr(0, colon);
            port = static_cast<boost::uint16_t>(boost::lexical_cast<int>(host.substr(colon + 1)));
        } else {
            domain = host;
        }
        domain = asciiLower(domain);
    }

    const std::string::size_type hash = rest.find('#');
    if (hash != std::string::npos) {
        fragment = rest.substr(hash + 1);
        rest.erase(hash);
    }

    const std::string::size_type question = rest.find('?');
    if (question != std::string::npos) {
        parseQuery(rest.substr(question + 1));
        rest.erase(question);
    }

    path = urlDecode(rest);
}

URI URI::fromString(const std::string& url)
{
    return URI(url);
}

std::string URI::toString(bool includeDomain) const
{
    std::string out;
    if (includeDomain) {
        out += protocol;
        out += "://";
        // Reading takes the host part's first "@" as the end of the login,
        // so an empty login is written too when the host holds one.
        if (!login.empty() || domain.find('@') != std::string::npos) {
            out += login;
            out += "@";
        }
        out += domain;
        if (port != 0) {
            out += ":";
            out += boost::lexical_cast<std::string>(port);
        }
    }
    // After a host the path must start with a slash: anything else (a
    // backslash is written as %5c) would be read back as part of the host.
    if (includeDomain && protocol != "file" && !path.empty() && path[0] != '/')
        out += "/";
    out += urlEncode(path);
    for (StringStringMap::const_iterator it = query.begin(); it != query.end(); ++it) {
        out += (it == query.begin()) ? "?" : "&";
        out += urlEncode(it->first);
        out += "=";
        out += urlEncode(it->second);
    }
    if (!fragment.empty()) {
        out += "#";
        out += fragment;
    }
    return out;
}

std::string URI::urlEncode(const std::string& in)
{
    std::string out;
    out.reserve(in.size());
    for (std::string::const_iterator it = in.begin(); it != in.end(); ++it) {
        const unsigned char c = static_cast<unsigned char>(*it);
        if (isUnreserved(c)) {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof(buf), "%%%.2x", static_cast<unsigned int>(c));
            out += buf;
        }
    }
    return out;
}

std::string URI::urlDecode(const std::string& in)
{
    std::string out;
    out.reserve(in.size());
    for (std::string::size_type i = 0; i < in.size(); ++i) {
        if (in[i] == '%' && i + 2 < in.size()) {
            const int high = hexValue(static_cast<unsigned char>(in[i + 1]));
            const int low = hexValue(static_cast<unsigned char>(in[i + 2]));
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += in[i];
    }
    return out;
}

void URI::parseQuery(const std::string& queryText)
{
    std::vector<std::string> pieces;
    boost::algorithm::split(pieces, queryText, boost::algorithm::is_any_of("&"));
    for (std::vector<std::string>::const_iterator piece = pieces.begin(); piece != pieces.end();
         ++piece) {
        std::vector<std::string> parts;
        boost::algorithm::split(parts, *piece, boost::algorithm::is_any_of("="));
        const std::string value = parts.size() >= 2 ? urlDecode(parts[1]) : std::string();
        query[urlDecode(parts[0])] = value;
    }
}

void URI::appendPathComponent(const std::string& component)
{
    if (component.empty())
        return;
    if (!path.empty() && path[path.size() - 1] == '/')
        path.erase(path.size() - 1);
    if (component[0] != '/')
        path += '/';
    path += component;
}

std::string URI::lastPathComponent() const
{
    if (path.empty() || path[path.size() - 1] == '/')
        return std::string();
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool URI::operator==(const URI& other) const
{
    return protocol == other.protocol && login == other.login && domain == other.domain &&
           port == other.port && path == other.path && fragment == other.fragment &&
           query == other.query;
}

URI::StringStringMap& URI::loopbackAliases()
{
    static StringStringMap aliases;
    return aliases;
}

void URI::addLoopbackAlias(const std::string& aliasDomain, std::string address)
{
    if (address.empty())
        address = "127.0.0.1";
    loopbackAliases()[aliasDomain] = address;
}

void URI::clearLoopbackAliases()
{
    loopbackAliases().clear();
}

bool URI::resolvesToLoopback() const
{
    const StringStringMap& aliases = loopbackAliases();
    if (aliases.find(domain) == aliases.end())
        return false;
    if (domain == "127.0.0.1")
        return true;

    namespace ip = boost::asio::ip;
    boost::asio::io_context io;
    ip::tcp::resolver resolver(io);
    const ip::tcp::resolver::results_type results =
        resolver.resolve(ip::tcp::v4(), domain, "80", ip::tcp::resolver::numeric_service);
    if (results.empty())
        return false;
    return results.begin()->endpoint().address() == ip::make_address("127.0.0.1");
}

} // namespace FB
