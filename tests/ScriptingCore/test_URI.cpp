// Parsing URLs into their parts, writing them back, the percent codings and
// the path helpers.
#include <stdexcept>
#include <string>

#include <boost/lexical_cast.hpp>
#include <gtest/gtest.h>

#include "URI.h"

namespace {

typedef FB::URI::StringStringMap Query;

struct ParseCase {
    const char* name;
    std::string url;
    std::string protocol;
    std::string login;
    std::string domain;
    int port;
    std::string path;
    Query query;
    std::string fragment;
    std::string written;  // toString(true)
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, SplitsTheTextIntoItsPartsAndWritesItBack)
{
    const ParseCase& c = GetParam();
    const FB::URI uri = FB::URI::fromString(c.url);
    EXPECT_EQ(c.protocol, uri.protocol);
    EXPECT_EQ(c.login, uri.login);
    EXPECT_EQ(c.domain, uri.domain);
    EXPECT_EQ(c.port, uri.port);
    EXPECT_EQ(c.path, uri.path);
    EXPECT_EQ(c.query, uri.query);
    EXPECT_EQ(c.fragment, uri.fragment);
    EXPECT_EQ(c.written, uri.toString(true));
}

INSTANTIATE_TEST_SUITE_P(
    Urls, ParseTest,
    ::testing::Values(
        ParseCase{"AllParts", "HTTP://UsEr@HoSt.Example.COM:21/a%20b?x=1&x=2&y=%41#Frag",
                  "http", "UsEr", "host.example.com", 21, "/a b", Query{{"x", "2"}, {"y", "A"}},
                  "Frag", "http://UsEr@host.example.com:21/a%20b?x=2&y=A#Frag"},
        ParseCase{"LoginDomainPort", "http://u@h:8080/p", "http", "u", "h", 8080, "/p", Query(),
                  "", "http://u@h:8080/p"},
        ParseCase{"NoProtocol", "host/word", "", "", "host", 0, "/word", Query(), "",
                  "://host/word"},
        ParseCase{"BareHost", "http://example.com", "http", "", "example.com", 0, "/", Query(),
                  "", "http://example.com/"},
        ParseCase{"BackslashEndsHost", "http://host\\dir\\f", "http", "", "host", 0,
                  "\\dir\\f", Query(), "", "http://host/%5cdir%5cf"},
        ParseCase{"QueryEndsHost", "http://h?x=1", "http", "", "h", 0, "/", Query{{"x", "1"}},
                  "", "http://h/?x=1"},
        ParseCase{"FragmentEndsHost", "http://h#top", "http", "", "h", 0, "/", Query(), "top",
                  "http://h/#top"},
        ParseCase{"FragmentNotDecoded", "http://h/p#a%20b", "http", "", "h", 0, "/p", Query(),
                  "a%20b", "http://h/p#a%20b"},
        ParseCase{"QueryAfterFragmentBelongsToFragment", "http://h/p#f?x=1", "http", "", "h", 0,
                  "/p", Query(), "f?x=1", "http://h/p#f?x=1"},
        ParseCase{"FileTakesNoHost", "FILE:///home/u/a%20b.txt?x=1#f", "file", "", "", 0,
                  "/home/u/a b.txt", Query{{"x", "1"}}, "f", "file:///home/u/a%20b.txt?x=1#f"},
        ParseCase{"FileWithHostLikeText", "file://u@h:5/x", "file", "", "", 0, "u@h:5/x",
                  Query(), "", "file://u%40h%3a5/x"},
        ParseCase{"PortWrapsModulo16Bits", "http://h:70000/", "http", "", "h", 4464, "/",
                  Query(), "", "http://h:4464/"},
        ParseCase{"NegativePort", "http://h:-1/", "http", "", "h", 65535, "/", Query(), "",
                  "http://h:65535/"},
        ParseCase{"PortZeroIsNotWritten", "http://h:0/", "http", "", "h", 0, "/", Query(), "",
                  "http://h/"},
        ParseCase{"HighBytesInDomainAndPath", "http://H\xc3\x89.de/\xc3\xa9", "http", "",
                  "h\xc3\x89.de", 0, "/\xc3\xa9", Query(), "", "http://h\xc3\x89.de/%c3%a9"},
        ParseCase{"EncodedHighBytes", "http://h/%C3%A9%e2%82%ac", "http", "", "h", 0,
                  "/\xc3\xa9\xe2\x82\xac", Query(), "", "http://h/%c3%a9%e2%82%ac"},
        ParseCase{"DigitsInProtocol", "s3://bucket/key", "s3", "", "bucket", 0, "/key", Query(),
                  "", "s3://bucket/key"}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

struct ParseErrorCase {
    const char* name;
    std::string url;
    bool badProtocol;  // else a bad port
};

class ParseErrorTest : public ::testing::TestWithParam<ParseErrorCase> {};

TEST_P(ParseErrorTest, Throws)
{
    const ParseErrorCase& c = GetParam();
    if (c.badProtocol) {
        try {
            FB::URI uri(c.url);
            FAIL() << "parsed " << c.url;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ("URI: invalid characters in protocol part", e.what());
        }
    } else {
        EXPECT_THROW(FB::URI uri(c.url), boost::bad_lexical_cast);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Urls, ParseErrorTest,
    ::testing::Values(ParseErrorCase{"HyphenInProtocol", "x-y://h/", true},
                      ParseErrorCase{"PlusInProtocol", "svn+ssh://h/", true},
                      ParseErrorCase{"HighByteInProtocol", "h\xe9://h/", true},
                      ParseErrorCase{"BlankInProtocol", " http://h/", true},
                      ParseErrorCase{"EmptyPort", "http://h:/", false},
                      ParseErrorCase{"LetterAfterPortDigits", "http://h:80a/", false},
                      ParseErrorCase{"PortBeyondInt", "http://h:99999999999/", false}),
    [](const ::testing::TestParamInfo<ParseErrorCase>& info) {
        return std::string(info.param.name);
    });

TEST(URIProtocol, EmptyProtocolBeforeSchemeSeparatorIsAccepted)
{
    const FB::URI uri("://h/p");
    EXPECT_EQ("", uri.protocol);
    EXPECT_EQ("h", uri.domain);
    EXPECT_EQ("/p", uri.path);
}

struct CodingCase {
    std::string plain;
    std::string encoded;
};

class EncodeTest : public ::testing::TestWithParam<CodingCase> {};

TEST_P(EncodeTest, EncodesEveryByteOutsideTheUnreservedSet)
{
    EXPECT_EQ(GetParam().encoded, FB::URI::urlEncode(GetParam().plain));
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, EncodeTest,
    ::testing::Values(CodingCase{"a b", "a%20b"}, CodingCase{"~", "%7e"},
                      CodingCase{"/", "/"}, CodingCase{":", "%3a"},
                      CodingCase{"AZaz09!$'()*+,-./_", "AZaz09!$'()*+,-./_"},
                      CodingCase{"&=?#%\"<>", "%26%3d%3f%23%25%22%3c%3e"},
                      CodingCase{std::string("\0", 1), "%00"},
                      CodingCase{"\x7f\x80\xc3\xa9\xff", "%7f%80%c3%a9%ff"},
                      CodingCase{"", ""}));

class DecodeTest : public ::testing::TestWithParam<CodingCase> {};

TEST_P(DecodeTest, DecodesOnlyPercentWithTwoHexDigits)
{
    EXPECT_EQ(GetParam().plain, FB::URI::urlDecode(GetParam().encoded));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DecodeTest,
    ::testing::Values(CodingCase{"a b", "a%20b"}, CodingCase{"A", "%41"},
                      CodingCase{"\xc3\xa9", "%C3%a9"}, CodingCase{"%4", "%4"},
                      CodingCase{"%", "%"}, CodingCase{"%zz", "%zz"},
                      CodingCase{"%g1", "%g1"}, CodingCase{"a+b", "a+b"},
                      CodingCase{std::string("\0x", 2), "%00x"},
                      CodingCase{"%%", "%25%"}, CodingCase{"1%", "%31%"}));

TEST(URIEncoding, EveryByteSurvivesEncodeThenDecode)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string encoded = FB::URI::urlEncode(all);
    EXPECT_EQ(std::string::npos, encoded.find("ffff")) << "bytes must not be sign-extended";
    EXPECT_EQ(all, FB::URI::urlDecode(encoded));
}

struct QueryCase {
    const char* name;
    std::string text;
    Query expected;
};

class QueryTest : public ::testing::TestWithParam<QueryCase> {};

TEST_P(QueryTest, FillsTheQueryMap)
{
    FB::URI uri("http://h/");
    uri.parseQuery(GetParam().text);
    EXPECT_EQ(GetParam().expected, uri.query);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, QueryTest,
    ::testing::Values(QueryCase{"Pairs", "b=2&a=1", Query{{"a", "1"}, {"b", "2"}}},
                      QueryCase{"LastWins", "a=1&a=2&a=3", Query{{"a", "3"}}},
                      QueryCase{"ExtraValuesIgnored", "a=1=2", Query{{"a", "1"}}},
                      QueryCase{"NameOnly", "flag", Query{{"flag", ""}}},
                      QueryCase{"EmptyValue", "a=", Query{{"a", ""}}},
                      QueryCase{"EmptyPieces", "a=1&&b=2", Query{{"", ""}, {"a", "1"}, {"b", "2"}}},
                      QueryCase{"Decoded", "n%20m=v%26w", Query{{"n m", "v&w"}}},
                      QueryCase{"EmptyText", "", Query{{"", ""}}}),
    [](const ::testing::TestParamInfo<QueryCase>& info) { return std::string(info.param.name); });

TEST(URIToString, WithoutDomainWritesPathQueryAndFragment)
{
    const FB::URI uri("https://u@h:99/a b/c?z=9&k=a b#frag");
    EXPECT_EQ("/a%20b/c?k=a%20b&z=9#frag", uri.toString(false));
}

// Without the domain part the path is written as it is: a relative path
// gets no slash put before it.
TEST(URIToString, WithoutDomainARelativePathStaysRelative)
{
    const struct {
        const char* url;
        const char* path;
        const char* written;
    } cases[] = {
        {"http://h/?q=1", "x/y", "x/y?q=1"},
        {"http://h/#f", "x", "x#f"},
        {"http://h/", "\\x", "%5cx"},
        {"http://h/?q=1", "/x/y", "/x/y?q=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        FB::URI uri(c.url);
        uri.path = c.path;
        EXPECT_EQ(c.written, uri.toString(false));
    }
}

TEST(URIToString, WrittenTextParsesBackToAnEqualValue)
{
    const FB::URI uri("http://u@h:81/p%3Fq/r%20s?a=%26&b=%3D#f");
    EXPECT_EQ("/p?q/r s", uri.path);
    const FB::URI again(uri.toString(true));
    EXPECT_TRUE(again == uri) << uri.toString(true);
}

// Whatever the path holds, the written address names the host it was
// parsed from, also for a path the caller set without a leading slash.
TEST(URIToString, WrittenTextKeepsTheHost)
{
    struct Case {
        std::string url;
        std::string path;  // set after parsing when not empty
    };
    const Case cases[] = {
        {"http://a.example\\x/y", ""},
        {"https://u@a.example:8443\\", ""},
        {"a.example\\x", ""},
        {"http://a.example/", "x.evil/y"},
        {"http://a.example/", "?x"},
        {"http://a.example/", "#x"},
        {"http://a.example/?q=1#f", "@b.example"},
    };
    for (const Case& c : cases) {
        FB::URI uri(c.url);
        if (!c.path.empty())
            uri.path = c.path;
        const std::string written(uri.toString(true));
        SCOPED_TRACE(c.url + " written as " + written);
        const FB::URI again(written);
        EXPECT_EQ(uri.protocol, again.protocol);
        EXPECT_EQ(uri.login, again.login);
        EXPECT_EQ(uri.domain, again.domain);
        EXPECT_EQ(uri.port, again.port);
        EXPECT_EQ(uri.query, again.query);
        EXPECT_EQ(uri.fragment, again.fragment);
    }
}

struct PathCase {
    std::string path;
    std::string component;
    std::string appended;
    std::string last;  // lastPathComponent of the original path
};

class PathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathTest, AppendsAndReadsComponents)
{
    const PathCase& c = GetParam();
    FB::URI uri("http://h/");
    uri.path = c.path;
    EXPECT_EQ(c.last, uri.lastPathComponent());
    uri.appendPathComponent(c.component);
    EXPECT_EQ(c.appended, uri.path);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathTest,
    ::testing::Values(PathCase{"/a/b", "c", "/a/b/c", "b"}, PathCase{"/a/", "b", "/a/b", ""},
                      PathCase{"", "b", "/b", ""}, PathCase{"/a", "/b", "/a/b", "a"},
                      PathCase{"/a", "", "/a", "a"}, PathCase{"word", "x", "word/x", "word"},
                      PathCase{"/", "x", "/x", ""}));

TEST(URIEquality, ComparesEveryPart)
{
    const FB::URI base("http://u@h:1/p?a=1#f");
    EXPECT_TRUE(base == FB::URI("HTTP://u@H:1/p?a=1#f"));
    const char* others[] = {"ftp://u@h:1/p?a=1#f", "http://v@h:1/p?a=1#f",
                            "http://u@g:1/p?a=1#f", "http://u@h:2/p?a=1#f",
                            "http://u@h:1/q?a=1#f", "http://u@h:1/p?a=2#f",
                            "http://u@h:1/p?b=1#f", "http://u@h:1/p?a=1&b=1#f",
                            "http://u@h:1/p?a=1#g"};
    for (const char* other : others)
        EXPECT_FALSE(base == FB::URI(other)) << other;
}

// A host part whose login is empty and whose host holds "@": the written
// address keeps the empty login, or the host's first "@" would end a login
// when it is read back and the host would change.
TEST(URIToString, AnEmptyLoginIsWrittenWhenTheHostHoldsAnAt)
{
    for (const char* url : {"http://@b@c/", "http://@@/x", "https://@h@i:81/p"}) {
        const FB::URI uri(url);
        ASSERT_EQ("", uri.login) << url;
        const FB::URI again(uri.toString(true));
        EXPECT_EQ(uri.domain, again.domain) << url << " written as " << uri.toString(true);
        EXPECT_EQ(uri.login, again.login) << url;
        EXPECT_EQ(uri.port, again.port) << url;
    }
    // An address without "@" in its host writes no login part.
    EXPECT_EQ("http://h/", FB::URI("http://h/").toString(true));
}

class LoopbackTest : public ::testing::Test {
protected:
    void TearDown() override { FB::URI::clearLoopbackAliases(); }
};

TEST_F(LoopbackTest, OnlyAliasedDomainsCount)
{
    EXPECT_FALSE(FB::URI("http://127.0.0.1/").resolvesToLoopback());
    FB::URI::addLoopbackAlias("127.0.0.1");
    EXPECT_TRUE(FB::URI("http://127.0.0.1/").resolvesToLoopback());
    FB::URI::clearLoopbackAliases();
    EXPECT_FALSE(FB::URI("http://127.0.0.1/").resolvesToLoopback());
}

TEST_F(LoopbackTest, AliasedNameIsResolved)
{
    FB::URI::addLoopbackAlias("localhost");
    EXPECT_TRUE(FB::URI("http://LOCALHOST:8080/x").resolvesToLoopback());
    FB::URI::addLoopbackAlias("127.0.0.2", "127.0.0.1");
    EXPECT_FALSE(FB::URI("http://127.0.0.2/").resolvesToLoopback());
}

} // namespace
