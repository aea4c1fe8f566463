// FB::URI: a URL held as a plain value - its parts, decoded - and the way
// back to text with percent-encoding.
//
// Parsing lower-cases the protocol and the domain and percent-decodes the path
// and the query; login and fragment are kept as written. The host part ends
// at the first "/", "\", "?" or "#". Every character test works on the byte
// value, so any bytes of a page's URL are handled the same way on every
// locale. Failures throw (std::runtime_error for a bad protocol,
// boost::bad_lexical_cast for a bad port) and return no partial value.
// A URI has no lock; copies may be used on any thread. The loopback alias
// table is process-wide and unguarded: callers that use it from several
// threads exclude each other.
#ifndef FB_URI_H
#define FB_URI_H

#include <map>
#include <string>

#include <boost/cstdint.hpp>

namespace FB {

class URI {
public:
    typedef std::map<std::string, std::string> StringStringMap;

    explicit URI(const std::string& url);

    static URI fromString(const std::string& url);

    // With includeDomain false only the path, query and fragment are written.
    // With it, a path is written after a slash, so the text parses back to
    // the same host.
    std::string toString(bool includeDomain = true) const;

    static std::string urlEncode(const std::string& in);
    static std::string urlDecode(const std::string& in);

    // Fills the query map from "a=1&b=2"; the last value of a name wins.
    void parseQuery(const std::string& query);

    void appendPathComponent(const std::string& component);
    std::string lastPathComponent() const;

    bool operator==(const URI& other) const;

    // A domain that should count as the local machine; the address defaults to
    // the IPv4 loopback address. Only the domain takes part in the test.
    static void addLoopbackAlias(const std::string& domain, std::string address = std::string());
    static void clearLoopbackAliases();
    // False for a domain without an alias; otherwise whether the domain
    // resolves (IPv4) to 127.0.0.1. A resolver failure throws
    // boost::system::system_error.
    bool resolvesToLoopback() const;

    std::string protocol;
    std::string login;
    std::string domain;
    boost::uint16_t port;
    std::string path;
    StringStringMap query;
    std::string fragment;

private:
    static StringStringMap& loopbackAliases();
};

} // namespace FB

#endif
