#include "talk/base/stringencode.h"

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace talk_base {
namespace {

// One buffer transform over a source, with the buffer size given.
struct TransformCase {
  const char* name;
  Transform transform;
  std::string source;
  size_t buflen;
  std::string expected;
};

std::ostream& operator<<(std::ostream& os, const TransformCase& c) {
  return os << c.name;
}

// Runs |t| into a buffer with a guard zone behind |buflen| bytes, so that a
// write past the bound or a missing terminator shows.
std::string RunGuarded(Transform t, const std::string& source, size_t buflen,
                size_t* result) {
  std::vector<char> buffer(buflen + 8, '#');
  *result = t(buffer.data(), buflen, source.data(), source.size());
  for (size_t i = buflen; i < buffer.size(); ++i) {
    EXPECT_EQ('#', buffer[i]) << "wrote past the buffer at " << i;
  }
  if (buflen == 0) return std::string();
  EXPECT_LT(*result, buflen);
  EXPECT_EQ('\0', buffer[*result]) << "no terminator";
  return std::string(buffer.data(), *result);
}

size_t EncodePercent(char* b, size_t bl, const char* s, size_t sl) {
  return Encode(b, bl, s, sl, "%", '%');
}
size_t EncodeBlanks(char* b, size_t bl, const char* s, size_t sl) {
  return Encode(b, bl, s, sl, " ", '\\');
}
size_t DecodePercent(char* b, size_t bl, const char* s, size_t sl) {
  return Decode(b, bl, s, sl, '%');
}
size_t EscapeBlanks(char* b, size_t bl, const char* s, size_t sl) {
  return Escape(b, bl, s, sl, " ", '\\');
}
size_t UnescapeBackslash(char* b, size_t bl, const char* s, size_t sl) {
  return Unescape(b, bl, s, sl, '\\');
}

class TransformTest : public ::testing::TestWithParam<TransformCase> {};

TEST_P(TransformTest, ProducesExpectedText) {
  const TransformCase& c = GetParam();
  size_t result = 0;
  const std::string out = RunGuarded(c.transform, c.source, c.buflen, &result);
  EXPECT_EQ(c.expected, out);
  EXPECT_EQ(c.expected.size(), result);
}

const std::string kNul("a\0b", 3);

INSTANTIATE_TEST_SUITE_P(
    Encoders, TransformTest,
    ::testing::Values(
        TransformCase{"hex", HexEncode, "\x01\xab\xff", 16, "01abff"},
        TransformCase{"hex_cut_to_whole_pairs", HexEncode, "abc", 5, "6162"},
        TransformCase{"hex_room_for_terminator_only", HexEncode, "a", 2, ""},
        TransformCase{"hex_zero_buffer", HexEncode, "abc", 0, ""},
        TransformCase{"hexdecode", HexDecode, "41aB7a", 16, "A\xab\x7a"},
        TransformCase{"hexdecode_stops_at_non_digit", HexDecode, "41zz42", 16, "A"},
        TransformCase{"hexdecode_stops_at_odd_tail", HexDecode, "414", 16, "A"},
        TransformCase{"hexdecode_full_buffer", HexDecode, "414243", 3, "AB"},
        TransformCase{"url", UrlEncode, "a b&c", 32, "a%20b%26c"},
        TransformCase{"url_high_bytes_pass", UrlEncode, "\xc3\xa9", 32, "\xc3\xa9"},
        TransformCase{"url_safe_marks", UrlEncode, "!'()*-._~", 32, "!'()*-._~"},
        TransformCase{"url_controls_and_del", UrlEncode, "\x01\x7f", 32, "%01%7f"},
        TransformCase{"url_nul_byte", UrlEncode, kNul, 32, "a%00b"},
        TransformCase{"url_escape_does_not_fit", UrlEncode, "a b", 4, "a"},
        TransformCase{"url_escape_just_fits", UrlEncode, "a b", 5, "a%20"},
        TransformCase{"url_zero_buffer", UrlEncode, "a b", 0, ""},
        TransformCase{"urldecode", UrlDecode, "a+b%41%4", 32, "a bA%4"},
        TransformCase{"urldecode_bad_digits", UrlDecode, "%zz%", 32, "%zz%"},
        TransformCase{"urldecode_full", UrlDecode, "abc", 3, "ab"},
        TransformCase{"encode", EncodePercent, "a%b", 32, "a%25b"},
        TransformCase{"encode_nul_always", EncodePercent, kNul, 32, "a%00b"},
        TransformCase{"encode_set_and_escape", EncodeBlanks, "a b\\", 32, "a\\20b\\5c"},
        TransformCase{"encode_cut", EncodePercent, "ab%", 5, "ab"},
        TransformCase{"decode", DecodePercent, "a%25b%4", 32, "a%b%4"},
        TransformCase{"escape", EscapeBlanks, "a b\\", 32, "a\\ b\\\\"},
        TransformCase{"escape_pair_whole", EscapeBlanks, "a b", 3, "a"},
        TransformCase{"unescape", UnescapeBackslash, "a\\ b\\\\c\\", 32, "a b\\c\\"},
        TransformCase{"xml", XmlEncode, "<a href=\"x\">'&'</a>", 64,
                      "&lt;a href=&quot;x&quot;&gt;&apos;&amp;&apos;&lt;/a&gt;"},
        TransformCase{"xml_entity_whole", XmlEncode, "a&", 6, "a"},
        TransformCase{"html", HtmlEncode, "'<\xc3\xa9", 32, "&#39;&lt;&#233;"},
        TransformCase{"html_lone_byte", HtmlEncode, "\xff" "a", 32, "&#255;a"},
        TransformCase{"html_cut_sequence", HtmlEncode, "\xe2\x82", 32, "&#226;&#130;"},
        TransformCase{"html_four_bytes", HtmlEncode, "\xf0\x9f\x98\x80", 32, "&#128512;"},
        TransformCase{"html_entity_whole", HtmlEncode, "x\xc3\xa9", 7, "x"},
        TransformCase{"xmldecode", XmlDecode, "a&lt;b&#65;&#x42;c", 32, "a<bABc"},
        TransformCase{"xmldecode_named", XmlDecode, "&gt;&apos;&quot;&amp;", 32, ">'\"&"},
        TransformCase{"xmldecode_unknown_stops", XmlDecode, "a&nbsp;b", 32, "a"},
        TransformCase{"xmldecode_no_semicolon_stops", XmlDecode, "a&#65b", 32, "a"},
        TransformCase{"xmldecode_no_digits_stops", XmlDecode, "a&#;b", 32, "a"},
        TransformCase{"xmldecode_cut_entity_stops", XmlDecode, "a&lt", 32, "a"},
        TransformCase{"xmldecode_number_at_end", XmlDecode, "a&#6", 32, "a"},
        TransformCase{"xmldecode_utf8", XmlDecode, "&#8364;", 32, "\xe2\x82\xac"},
        TransformCase{"xmldecode_code_point_too_big", XmlDecode, "a&#99999999999999999999;", 32, "a"},
        TransformCase{"xmldecode_code_point_does_not_fit", XmlDecode, "a&#8364;", 3, "a"},
        TransformCase{"htmldecode", HtmlDecode, "&amp;&#x41;", 32, "&A"}),
    [](const ::testing::TestParamInfo<TransformCase>& info) {
      return std::string(info.param.name);
    });

TEST(StringEncodeTest, NullBufferIsAFailedWriteNotACrash) {
  const char src[] = "abc";
  const Transform writers[] = {HexEncode, HexDecode, XmlEncode, HtmlEncode,
                               XmlDecode, EncodePercent, DecodePercent,
                               EscapeBlanks, UnescapeBackslash};
  for (Transform t : writers) {
    EXPECT_EQ(0u, t(nullptr, 10, src, 3));
  }
  char one = '#';
  EXPECT_EQ(0u, FormatToBuffer(nullptr, 4, "%d", 1));
  EXPECT_EQ(0u, FormatToBuffer(&one, 0, "%d", 1));
  EXPECT_EQ('#', one);
  EXPECT_EQ(0u, Utf8Encode(nullptr, 4, 'a'));
  EXPECT_EQ(0u, Utf8Decode(nullptr, 4, nullptr));
}

TEST(StringEncodeTest, UrlSizeQueries) {
  EXPECT_EQ(16u, UrlEncode(nullptr, 0, "hello", 5));
  EXPECT_EQ(6u, UrlDecode(nullptr, 0, "hello", 5));
}

TEST(StringEncodeTest, UrlUnsafeSetIsExactly57Characters) {
  int unsafe = 0;
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    char out[8];
    if (UrlEncode(out, sizeof(out), &ch, 1) == 3) ++unsafe;
  }
  EXPECT_EQ(57, unsafe);
}

TEST(StringEncodeTest, HexDigits) {
  for (int v = 0; v < 16; ++v) {
    const char digit = HexEncodeDigit(v);
    EXPECT_EQ("0123456789abcdef"[v], digit);
    unsigned char back = 99;
    EXPECT_TRUE(HexDecodeDigit(digit, &back));
    EXPECT_EQ(v, back);
  }
  EXPECT_EQ('!', HexEncodeDigit(16));
  EXPECT_EQ('!', HexEncodeDigit(-1));
  unsigned char value = 0;
  EXPECT_TRUE(HexDecodeDigit('F', &value));
  EXPECT_EQ(15, value);
  for (char bad : {'g', 'z', 'G', ' ', '%', '\0', '\xff'}) {
    EXPECT_FALSE(HexDecodeDigit(bad, &value)) << static_cast<int>(bad);
  }
}

TEST(StringEncodeTest, HexEncodeToString) {
  EXPECT_EQ("00ff10", HexEncodeToString("\x00\xff\x10", 3));
  EXPECT_EQ("", HexEncodeToString("", 0));
}

struct Utf8Case {
  std::string bytes;
  size_t length;  // 0: invalid
  unsigned long value;
};

TEST(StringEncodeTest, Utf8DecodeTable) {
  const Utf8Case cases[] = {
      {"A", 1, 'A'},
      {"\xc3\xa9", 2, 0xE9},
      {"\xe2\x82\xac", 3, 0x20AC},
      {"\xf0\x9f\x98\x80", 4, 0x1F600},
      {"\xc0\x80", 2, 0},           // overlong, accepted
      {"\xed\xa0\x80", 3, 0xD800},  // surrogate, accepted
      {"\xe2\x82", 0, 0},           // cut
      {"\xe2\x28\xac", 0, 0},       // bad continuation
      {"\x80", 0, 0},               // lone continuation
      {"\xf8\x88\x80\x80\x80", 0, 0},
  };
  for (const Utf8Case& c : cases) {
    unsigned long value = 12345;
    EXPECT_EQ(c.length, Utf8Decode(c.bytes.data(), c.bytes.size(), &value))
        << c.bytes;
    if (c.length) {
      EXPECT_EQ(c.value, value);
    }
  }
  // The bound, not the text, decides: a valid sequence cut by the length.
  unsigned long value;
  EXPECT_EQ(0u, Utf8Decode("\xe2\x82\xac", 2, &value));
}

TEST(StringEncodeTest, Utf8EncodeTable) {
  const Utf8Case cases[] = {
      {"A", 1, 'A'},
      {"\xdf\xbf", 2, 0x7FF},
      {"\xe2\x82\xac", 3, 0x20AC},
      {"\xef\xbf\xbf", 3, 0xFFFF},
      {"\xf7\xbf\xbf\xbf", 4, 0x1FFFFF},
  };
  for (const Utf8Case& c : cases) {
    char out[8] = {0};
    ASSERT_EQ(c.length, Utf8Encode(out, sizeof(out), c.value));
    EXPECT_EQ(c.bytes, std::string(out, c.length));
  }
  char out[4];
  EXPECT_EQ(0u, Utf8Encode(out, sizeof(out), 0x200000));
  EXPECT_EQ(3u, Utf8Encode(out, 3, 0x20AC));
  EXPECT_EQ(0u, Utf8Encode(out, 2, 0x20AC));
}

TEST(StringEncodeTest, MakeCharSafeForFilename) {
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    const bool unsafe = c < 32 || c >= 128 || strchr("\"*/:<>?\\|", c) != nullptr;
    EXPECT_EQ(unsafe ? '_' : ch, MakeCharSafeForFilename(ch)) << c;
  }
}

TEST(StringEncodeTest, FormatToBuffer) {
  char buf[8];
  EXPECT_EQ(5u, FormatToBuffer(buf, sizeof(buf), "%s-%d", "ab", 12));
  EXPECT_STREQ("ab-12", buf);
  EXPECT_EQ(7u, FormatToBuffer(buf, sizeof(buf), "%s", "0123456789"));
  EXPECT_STREQ("0123456", buf);
  EXPECT_EQ(0u, FormatToBuffer(buf, 1, "%s", "x"));
  EXPECT_STREQ("", buf);
}

TEST(StringEncodeTest, TransformString) {
  EXPECT_EQ("a%20b", TransformString("a b", UrlEncode));
  EXPECT_EQ("a b", TransformString("a+b", UrlDecode));
  // Transforms without a size query give the empty text.
  EXPECT_EQ("", TransformString("a b", HexEncode));
  EXPECT_EQ("", TransformString("", UrlEncode));
}

TEST(StringEncodeTest, TransformIntoString) {
  std::string out = "old";
  EXPECT_EQ(4u, TransformIntoString(&out, 4, "a b", UrlEncode));
  EXPECT_EQ("a%20", out);
  EXPECT_EQ(6u, TransformIntoString(&out, 10, "abc", HexEncode));
  EXPECT_EQ("616263", out);
}

TEST(StringEncodeTest, EmptyCString) { EXPECT_STREQ("", EmptyCString()); }

// Fields.

typedef size_t (*Splitter)(const std::string&, char, std::vector<std::string>*);

struct FieldCase {
  const char* name;
  Splitter splitter;
  std::string source;
  std::vector<std::string> expected;
};

std::ostream& operator<<(std::ostream& os, const FieldCase& c) {
  return os << c.name;
}

size_t QuotedBlanks(const std::string& s, char, std::vector<std::string>* f) {
  return TokenizeWithMarks(s, ' ', '"', '"', f);
}
size_t Brackets(const std::string& s, char, std::vector<std::string>* f) {
  return TokenizeWithMarks(s, ',', '[', ']', f);
}

class FieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FieldTest, SplitsIntoExpectedFields) {
  const FieldCase& c = GetParam();
  std::vector<std::string> fields = {"stale"};
  EXPECT_EQ(c.expected.size(), c.splitter(c.source, ',', &fields));
  EXPECT_EQ(c.expected, fields);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FieldTest,
    ::testing::Values(
        FieldCase{"tokenize", Tokenize, ",a,,b,", {"a", "b"}},
        FieldCase{"tokenize_empty", Tokenize, "", {}},
        FieldCase{"tokenize_only_delimiters", Tokenize, ",,,", {}},
        FieldCase{"split", Split, ",a,,b,", {"", "a", "", "b", ""}},
        FieldCase{"split_empty", Split, "", {""}},
        FieldCase{"split_plain", Split, "a,,b", {"a", "", "b"}},
        FieldCase{"marks", QuotedBlanks, "a \"b c\" d", {"a", "b c", "d"}},
        FieldCase{"marks_at_start", QuotedBlanks, "\"b c\" d", {"b c", "d"}},
        FieldCase{"marks_empty_field", QuotedBlanks, "a \"\" d", {"a", "", "d"}},
        FieldCase{"marks_unclosed", QuotedBlanks, "a \"b c", {"a", "\"b", "c"}},
        FieldCase{"marks_twice", QuotedBlanks, "\"x\" \"y z\"", {"x", "y z"}},
        FieldCase{"marks_no_delimiter_before", QuotedBlanks, "ab\"c\"", {"ab", "c"}},
        FieldCase{"marks_distinct", Brackets, "a,[b,c],d", {"a", "b,c", "d"}}),
    [](const ::testing::TestParamInfo<FieldCase>& info) {
      return std::string(info.param.name);
    });

TEST(FieldsTest, TokenizeAppendKeepsExistingFields) {
  std::vector<std::string> fields = {"x"};
  EXPECT_EQ(3u, TokenizeAppend(" a  b ", ' ', &fields));
  EXPECT_EQ((std::vector<std::string>{"x", "a", "b"}), fields);
  EXPECT_EQ(0u, TokenizeAppend("a b", ' ', nullptr));
}

}  // namespace
}  // namespace talk_base
