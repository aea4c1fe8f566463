#include "talk/base/stringencode.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace talk_base {

namespace {

const char kHexDigits[] = "0123456789abcdef";

// Character classes of the ASCII codes; bytes of 128 and above have none.
enum { URL_UNSAFE = 0x1, XML_UNSAFE = 0x2 };

struct CharClassTable {
  unsigned char bits[128];
  CharClassTable() {
    memset(bits, 0, sizeof(bits));
    for (int c = 0; c < 32; ++c) bits[c] |= URL_UNSAFE;
    bits[127] |= URL_UNSAFE;
    for (const char* p = " \"#$%&+,/:;<=>?@[\\]^`{|}"; *p; ++p) {
      bits[static_cast<unsigned char>(*p)] |= URL_UNSAFE;
    }
    for (const char* p = "\"&'<>"; *p; ++p) {
      bits[static_cast<unsigned char>(*p)] |= XML_UNSAFE;
    }
  }
};

bool HasClass(unsigned char ch, unsigned char mask) {
  static const CharClassTable table;
  return ch < 128 && (table.bits[ch] & mask) != 0;
}

// The entities of the XML-unsafe characters; HTML spells the apostrophe
// numerically.
struct Entity {
  char ch;
  const char* xml;
  const char* html;
};
const Entity kEntities[] = {
    {'"', "&quot;", "&quot;"}, {'&', "&amp;", "&amp;"},
    {'\'', "&apos;", "&#39;"}, {'<', "&lt;", "&lt;"},
    {'>', "&gt;", "&gt;"},
};

const Entity* FindEntity(char ch) {
  for (const Entity& e : kEntities) {
    if (e.ch == ch) return &e;
  }
  return nullptr;
}

// Writes into a caller buffer, always keeping room for the terminator; each
// Put goes in whole or not at all.
class Output {
 public:
  Output(char* buffer, size_t buflen) : buffer_(buffer), buflen_(buflen) {}

  bool Put(char ch) { return Put(&ch, 1); }
  bool Put(const char* text, size_t len) {
    if (pos_ + len >= buflen_) return false;
    memcpy(buffer_ + pos_, text, len);
    pos_ += len;
    return true;
  }
  bool PutHexEscape(char escape, unsigned char byte) {
    const char text[3] = {escape, kHexDigits[byte >> 4], kHexDigits[byte & 15]};
    return Put(text, 3);
  }
  // The room left for text, the terminator's place excluded.
  size_t Room() const { return buflen_ - pos_ - 1; }
  char* Cursor() { return buffer_ + pos_; }
  void Advance(size_t len) { pos_ += len; }

  size_t Finish() {
    buffer_[pos_] = '\0';
    return pos_;
  }

 private:
  char* buffer_;
  size_t buflen_;
  size_t pos_ = 0;
};

bool Usable(const char* buffer, size_t buflen) {
  return buffer != nullptr && buflen > 0;
}

// Two hex digits at |source|[pos], which must lie within |srclen|.
bool DecodeHexPair(const char* source, size_t srclen, size_t pos,
                   unsigned char* byte) {
  unsigned char hi, lo;
  if (pos + 2 > srclen || !HexDecodeDigit(source[pos], &hi) ||
      !HexDecodeDigit(source[pos + 1], &lo)) {
    return false;
  }
  *byte = static_cast<unsigned char>((hi << 4) | lo);
  return true;
}

// Whether |ch| is one of |illegal|; the zero byte always is (it is the set's
// terminator).
bool IsIllegal(const char* illegal, char ch) {
  if (ch == '\0') return true;
  return illegal != nullptr && strchr(illegal, ch) != nullptr;
}

bool MatchesAt(const char* source, size_t srclen, size_t pos,
               const char* text) {
  const size_t len = strlen(text);
  return pos + len <= srclen && memcmp(source + pos, text, len) == 0;
}

// Parses the digits at |source|[*pos] in |base| (10 or 16) by hand, within
// |srclen|. False when there is no digit. Values saturate far above any
// code point, so a huge number cannot wrap into a small one.
bool ParseNumber(const char* source, size_t srclen, size_t* pos, int base,
                 unsigned long* value) {
  const unsigned long kCap = 0x7FFFFFFF;
  unsigned long result = 0;
  size_t p = *pos;
  while (p < srclen) {
    unsigned char digit;
    const char ch = source[p];
    if (base == 10) {
      if (ch < '0' || ch > '9') break;
      digit = static_cast<unsigned char>(ch - '0');
    } else if (!HexDecodeDigit(ch, &digit)) {
      break;
    }
    result = result * base + digit;
    if (result > kCap) result = kCap;
    ++p;
  }
  if (p == *pos) return false;
  *pos = p;
  *value = result;
  return true;
}

}  // namespace

char HexEncodeDigit(int value) {
  return (value >= 0 && value < 16) ? kHexDigits[value] : '!';
}

bool HexDecodeDigit(char ch, unsigned char* value) {
  if (ch >= '0' && ch <= '9') {
    *value = static_cast<unsigned char>(ch - '0');
  } else if (ch >= 'a' && ch <= 'f') {
    *value = static_cast<unsigned char>(ch - 'a' + 10);
  } else if (ch >= 'A' && ch <= 'F') {
    *value = static_cast<unsigned char>(ch - 'A' + 10);
  } else {
    return false;
  }
  return true;
}

size_t HexEncode(char* buffer, size_t buflen, const char* source,
                 size_t srclen) {
  if (!Usable(buffer, buflen)) return 0;
  Output out(buffer, buflen);
  for (size_t i = 0; i < srclen; ++i) {
    const unsigned char byte = static_cast<unsigned char>(source[i]);
    const char pair[2] = {kHexDigits[byte >> 4], kHexDigits[byte & 15]};
    if (!out.Put(pair, 2)) break;
  }
  return out.Finish();
}

size_t HexDecode(char* buffer, size_t buflen, const char* source,
                 size_t srclen) {
  if (!Usable(buffer, buflen)) return 0;
  Output out(buffer, buflen);
  for (size_t pos = 0; pos + 2 <= srclen; pos += 2) {
    unsigned char byte;
    if (!DecodeHexPair(source, srclen, pos, &byte)) break;
    if (!out.Put(static_cast<char>(byte))) break;
  }
  return out.Finish();
}

std::string HexEncodeToString(const char* source, size_t srclen) {
  std::string result;
  result.reserve(srclen * 2);
  for (size_t i = 0; i < srclen; ++i) {
    const unsigned char byte = static_cast<unsigned char>(source[i]);
    result += kHexDigits[byte >> 4];
    result += kHexDigits[byte & 15];
  }
  return result;
}

size_t UrlEncode(char* buffer, size_t buflen, const char* source,
                 size_t srclen) {
  if (buffer == nullptr) return srclen * 3 + 1;
  if (buflen == 0) return 0;
  Output out(buffer, buflen);
  for (size_t i = 0; i < srclen; ++i) {
    const unsigned char ch = static_cast<unsigned char>(source[i]);
    const bool ok = HasClass(ch, URL_UNSAFE) ? out.PutHexEscape('%', ch)
                                             : out.Put(static_cast<char>(ch));
    if (!ok) break;
  }
  return out.Finish();
}

size_t UrlDecode(char* buffer, size_t buflen, const char* source,
                 size_t srclen) {
  if (buffer == nullptr) return srclen + 1;
  if (buflen == 0) return 0;
  Output out(buffer, buflen);
  for (size_t pos = 0; pos < srclen; ++pos) {
    char ch = source[pos];
    unsigned char byte;
    if (ch == '+') {
      ch = ' ';
    } else if (ch == '%' && DecodeHexPair(source, srclen, pos + 1, &byte)) {
      ch = static_cast<char>(byte);
      pos += 2;
    }
    if (!out.Put(ch)) break;
  }
  return out.Finish();
}

size_t Encode(char* buffer, size_t buflen, const char* source, size_t srclen,
              const char* illegal, char escape) {
  if (!Usable(buffer, buflen)) return 0;
  Output out(buffer, buflen);
  for (size_t i = 0; i < srclen; ++i) {
    const char ch = source[i];
    const bool ok = (ch == escape || IsIllegal(illegal, ch))
                        ? out.PutHexEscape(escape, static_cast<unsigned char>(ch))
                        : out.Put(ch);
    if (!ok) break;
  }
  return out.Finish();
}

size_t Decode(char* buffer, size_t buflen, const char* source, size_t srclen,
              char escape) {
  if (!Usable(buffer, buflen)) return 0;
  Output out(buffer, buflen);
  for (size_t pos = 0; pos < srclen; ++pos) {
    char ch = source[pos];
    unsigned char byte;
    if (ch == escape && DecodeHexPair(source, srclen, pos + 1, &byte)) {
      ch = static_cast<char>(byte);
      pos += 2;
    }
    if (!out.Put(ch)) break;
  }
  return out.Finish();
}

size_t Escape(char* buffer, size_t buflen, const char* source, size_t srclen,
              const char* illegal, char escape) {
  if (!Usable(buffer, buflen)) return 0;
  Output out(buffer, buflen);
  for (size_t i = 0; i < srclen; ++i) {
    const char ch = source[i];
    bool ok;
    if (ch == escape || IsIllegal(illegal, ch)) {
      const char pair[2] = {escape, ch};
      ok = out.Put(pair, 2);
    } else {
      ok = out.Put(ch);
    }
    if (!ok) break;
  }
  return out.Finish();
}

size_t Unescape(char* buffer, size_t buflen, const char* source,
                size_t srclen, char escape) {
  if (!Usable(buffer, buflen)) return 0;
  Output out(buffer, buflen);
  for (size_t pos = 0; pos < srclen; ++pos) {
    if (source[pos] == escape && pos + 1 < srclen) ++pos;
    if (!out.Put(source[pos])) break;
  }
  return out.Finish();
}

size_t XmlEncode(char* buffer, size_t buflen, const char* source,
                 size_t srclen) {
  if (!Usable(buffer, buflen)) return 0;
  Output out(buffer, buflen);
  for (size_t i = 0; i < srclen; ++i) {
    const char ch = source[i];
    const Entity* entity = HasClass(static_cast<unsigned char>(ch), XML_UNSAFE)
                               ? FindEntity(ch)
                               : nullptr;
    const bool ok =
        entity ? out.Put(entity->xml, strlen(entity->xml)) : out.Put(ch);
    if (!ok) break;
  }
  return out.Finish();
}

size_t HtmlEncode(char* buffer, size_t buflen, const char* source,
                  size_t srclen) {
  if (!Usable(buffer, buflen)) return 0;
  Output out(buffer, buflen);
  for (size_t pos = 0; pos < srclen;) {
    const unsigned char ch = static_cast<unsigned char>(source[pos]);
    bool ok;
    if (ch >= 128) {
      unsigned long value;
      size_t len = Utf8Decode(source + pos, srclen - pos, &value);
      if (len == 0) {
        value = ch;
        len = 1;
      }
      char entity[24];
      const int n = snprintf(entity, sizeof(entity), "&#%lu;", value);
      ok = out.Put(entity, static_cast<size_t>(n));
      if (ok) pos += len;
    } else {
      const Entity* entity =
          HasClass(ch, XML_UNSAFE) ? FindEntity(static_cast<char>(ch)) : nullptr;
      ok = entity ? out.Put(entity->html, strlen(entity->html))
                  : out.Put(static_cast<char>(ch));
      if (ok) ++pos;
    }
    if (!ok) break;
  }
  return out.Finish();
}

size_t XmlDecode(char* buffer, size_t buflen, const char* source,
                 size_t srclen) {
  if (!Usable(buffer, buflen)) return 0;
  // In the order they are tried.
  static const struct {
    const char* name;
    char ch;
  } kNamed[] = {{"lt;", '<'}, {"gt;", '>'}, {"apos;", '\''},
                {"quot;", '"'}, {"amp;", '&'}};

  Output out(buffer, buflen);
  size_t pos = 0;
  while (pos < srclen) {
    if (source[pos] != '&') {
      if (!out.Put(source[pos])) break;
      ++pos;
      continue;
    }
    const size_t after = pos + 1;
    bool named = false;
    for (const auto& entry : kNamed) {
      if (MatchesAt(source, srclen, after, entry.name)) {
        if (!out.Put(entry.ch)) return out.Finish();
        pos = after + strlen(entry.name);
        named = true;
        break;
      }
    }
    if (named) continue;

    // "&#<decimal>;" or "&#x<hex>;"
    if (after >= srclen || source[after] != '#') break;
    size_t digits = after + 1;
    int base = 10;
    if (digits < srclen && source[digits] == 'x') {
      base = 16;
      ++digits;
    }
    unsigned long value;
    if (!ParseNumber(source, srclen, &digits, base, &value)) break;
    if (digits >= srclen || source[digits] != ';') break;
    const size_t len = Utf8Encode(out.Cursor(), out.Room(), value);
    if (len == 0) break;
    out.Advance(len);
    pos = digits + 1;
  }
  return out.Finish();
}

size_t HtmlDecode(char* buffer, size_t buflen, const char* source,
                  size_t srclen) {
  return XmlDecode(buffer, buflen, source, srclen);
}

size_t Utf8Decode(const char* source, size_t srclen, unsigned long* value) {
  if (source == nullptr || srclen == 0) return 0;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(source);
  if (s[0] < 0x80) {
    *value = s[0];
    return 1;
  }
  size_t extra;
  unsigned long result;
  if ((s[0] & 0xE0) == 0xC0) {
    extra = 1;
    result = s[0] & 0x1F;
  } else if ((s[0] & 0xF0) == 0xE0) {
    extra = 2;
    result = s[0] & 0x0F;
  } else if ((s[0] & 0xF8) == 0xF0) {
    extra = 3;
    result = s[0] & 0x07;
  } else {
    return 0;
  }
  if (extra >= srclen) return 0;
  for (size_t i = 1; i <= extra; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    result = (result << 6) | (s[i] & 0x3F);
  }
  *value = result;
  return extra + 1;
}

size_t Utf8Encode(char* buffer, size_t buflen, unsigned long value) {
  if (buffer == nullptr) return 0;
  unsigned char bytes[4];
  size_t len;
  if (value < 0x80) {
    bytes[0] = static_cast<unsigned char>(value);
    len = 1;
  } else if (value < 0x800) {
    bytes[0] = static_cast<unsigned char>(0xC0 | (value >> 6));
    len = 2;
  } else if (value <= 0xFFFF) {
    bytes[0] = static_cast<unsigned char>(0xE0 | (value >> 12));
    len = 3;
  } else if (value <= 0x1FFFFF) {
    bytes[0] = static_cast<unsigned char>(0xF0 | (value >> 18));
    len = 4;
  } else {
    return 0;
  }
  for (size_t i = 1; i < len; ++i) {
    bytes[i] = static_cast<unsigned char>(0x80 | ((value >> (6 * (len - 1 - i))) & 0x3F));
  }
  if (len > buflen) return 0;
  memcpy(buffer, bytes, len);
  return len;
}

char MakeCharSafeForFilename(char ch) {
  const unsigned char byte = static_cast<unsigned char>(ch);
  if (byte < 32 || byte >= 128 || memchr("\"*/:<>?\\|", ch, 9) != nullptr) {
    return '_';
  }
  return ch;
}

size_t FormatToBuffer(char* buffer, size_t buflen, const char* format, ...) {
  if (!Usable(buffer, buflen)) return 0;
  va_list args;
  va_start(args, format);
  const int len = vsnprintf(buffer, buflen, format, args);
  va_end(args);
  size_t result = static_cast<size_t>(len);
  if (len < 0 || result >= buflen) result = buflen - 1;
  buffer[result] = '\0';
  return result;
}

std::string TransformString(const std::string& source, Transform t) {
  const size_t size = t(nullptr, 0, source.data(), source.size());
  std::vector<char> buffer(size > 0 ? size : 1);
  const size_t len = t(buffer.data(), size, source.data(), source.size());
  return std::string(buffer.data(), len);
}

size_t TransformIntoString(std::string* result, size_t maxlen,
                           const std::string& source, Transform t) {
  std::vector<char> buffer(maxlen + 1);
  const size_t len = t(buffer.data(), buffer.size(), source.data(),
                       source.size());
  result->assign(buffer.data(), len);
  return len;
}

const char* EmptyCString() { return ""; }

size_t Tokenize(const std::string& source, char delimiter,
                std::vector<std::string>* fields) {
  fields->clear();
  size_t last = 0;
  for (size_t i = 0; i <= source.size(); ++i) {
    if (i == source.size() || source[i] == delimiter) {
      if (i > last) fields->push_back(source.substr(last, i - last));
      last = i + 1;
    }
  }
  return fields->size();
}

size_t TokenizeAppend(const std::string& source, char delimiter,
                      std::vector<std::string>* fields) {
  if (!fields) return 0;
  std::vector<std::string> tokens;
  Tokenize(source, delimiter, &tokens);
  fields->insert(fields->end(), tokens.begin(), tokens.end());
  return fields->size();
}

size_t Split(const std::string& source, char delimiter,
             std::vector<std::string>* fields) {
  fields->clear();
  size_t last = 0;
  for (size_t i = 0; i < source.size(); ++i) {
    if (source[i] == delimiter) {
      fields->push_back(source.substr(last, i - last));
      last = i + 1;
    }
  }
  fields->push_back(source.substr(last));
  return fields->size();
}

size_t TokenizeWithMarks(const std::string& source, char delimiter,
                         char start_mark, char end_mark,
                         std::vector<std::string>* fields) {
  if (!fields) return 0;
  fields->clear();
  std::string remaining = source;
  while (!remaining.empty()) {
    const size_t start = remaining.find(start_mark);
    if (start == std::string::npos) break;
    // The text before the mark, less the delimiter expected right before
    // it; a mark at the very start has nothing before it.
    size_t head_len = start;
    if (head_len > 0 && remaining[head_len - 1] == delimiter) --head_len;
    const size_t end = remaining.find(end_mark, start + 1);
    if (end == std::string::npos) break;
    TokenizeAppend(remaining.substr(0, head_len), delimiter, fields);
    fields->push_back(remaining.substr(start + 1, end - start - 1));
    remaining = remaining.substr(end + 1);
  }
  TokenizeAppend(remaining, delimiter, fields);
  return fields->size();
}

}  // namespace talk_base
