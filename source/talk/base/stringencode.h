// Encoding and decoding of text into caller buffers, and splitting text
// into fields.
//
// Buffer convention of every function that writes into a caller buffer
// (buffer, buflen, source, srclen): the output is always zero-terminated, so
// at most buflen - 1 characters are produced; a null buffer or a buflen of 0
// writes nothing and returns 0 (except the size queries of UrlEncode and
// UrlDecode); the result is the number of characters written before the
// terminator. A step whose whole output (a character, an escape, an entity)
// does not fit before the terminator ends the function; nothing partial is
// written. Sources are bounded by srclen and may hold zero bytes; nothing
// reads past it.
//
// Threads: no state; safe on separate buffers from any thread.
#ifndef TALK_BASE_STRINGENCODE_H_
#define TALK_BASE_STRINGENCODE_H_

#include <stddef.h>

#include <string>
#include <vector>

namespace talk_base {

// The lowercase digit of 0..15; '!' for anything else.
char HexEncodeDigit(int value);
// '0'-'9', 'a'-'f', 'A'-'F'; false for every other character.
bool HexDecodeDigit(char ch, unsigned char* value);

// Pairs of lowercase digits for as many bytes as fit; returns the digits
// written.
size_t HexEncode(char* buffer, size_t buflen, const char* source,
                 size_t srclen);
// Bytes from digit pairs, until a pair is incomplete or not hex or the
// buffer is full; returns the bytes written.
size_t HexDecode(char* buffer, size_t buflen, const char* source,
                 size_t srclen);
std::string HexEncodeToString(const char* source, size_t srclen);

// "%xx" for each URL-unsafe ASCII byte. A null buffer returns the size
// needed in the worst case, 3 * srclen + 1.
size_t UrlEncode(char* buffer, size_t buflen, const char* source,
                 size_t srclen);
// '+' becomes a blank, "%xx" its byte. A null buffer returns srclen + 1.
size_t UrlDecode(char* buffer, size_t buflen, const char* source,
                 size_t srclen);

// |escape| and every character of |illegal| (and the zero byte) become
// |escape| and two hex digits.
size_t Encode(char* buffer, size_t buflen, const char* source, size_t srclen,
              const char* illegal, char escape);
size_t Decode(char* buffer, size_t buflen, const char* source, size_t srclen,
              char escape);
// |escape| and every character of |illegal| (and the zero byte) get |escape|
// in front.
size_t Escape(char* buffer, size_t buflen, const char* source, size_t srclen,
              const char* illegal, char escape);
size_t Unescape(char* buffer, size_t buflen, const char* source,
                size_t srclen, char escape);

// &quot; &amp; &apos; &lt; &gt; for the five XML-unsafe characters.
size_t XmlEncode(char* buffer, size_t buflen, const char* source,
                 size_t srclen);
// As XmlEncode but with &#39; for the apostrophe, and "&#<code point>;" for
// each UTF-8 sequence (for each byte of an invalid one).
size_t HtmlEncode(char* buffer, size_t buflen, const char* source,
                  size_t srclen);
// The five named entities and numeric ones ("&#65;", "&#x41;", written as
// UTF-8). Decoding ends at any other '&'.
size_t XmlDecode(char* buffer, size_t buflen, const char* source,
                 size_t srclen);
size_t HtmlDecode(char* buffer, size_t buflen, const char* source,
                  size_t srclen);

// The length of the UTF-8 sequence at |source| and its value; 0 when it is
// invalid or cut off by |srclen|. Overlong forms are not rejected.
size_t Utf8Decode(const char* source, size_t srclen, unsigned long* value);
// Writes |value| as UTF-8 (no terminator); 0 when it does not fit or is
// above 0x1FFFFF.
size_t Utf8Encode(char* buffer, size_t buflen, unsigned long value);

// '_' for characters that do not belong in a file name.
char MakeCharSafeForFilename(char ch);

// vsnprintf into |buffer|; a cut text returns buflen - 1.
size_t FormatToBuffer(char* buffer, size_t buflen, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

typedef size_t (*Transform)(char* buffer, size_t buflen, const char* source,
                            size_t srclen);
// Sizes the output with a null-buffer call (UrlEncode and UrlDecode answer
// it; every other transform gives the empty text), then transforms.
std::string TransformString(const std::string& source, Transform t);
// Transforms into at most |maxlen| characters; returns the length.
size_t TransformIntoString(std::string* result, size_t maxlen,
                           const std::string& source, Transform t);

const char* EmptyCString();

// The non-empty texts between |delimiter|s; returns the field count.
size_t Tokenize(const std::string& source, char delimiter,
                std::vector<std::string>* fields);
// Tokenize, appended to |fields|; 0 for null fields.
size_t TokenizeAppend(const std::string& source, char delimiter,
                      std::vector<std::string>* fields);
// Every piece, empty ones included ("" gives one empty piece).
size_t Split(const std::string& source, char delimiter,
             std::vector<std::string>* fields);
// Tokenize, but text between |start_mark| and |end_mark| is one field (it
// may be empty and hold delimiters). A start mark without an end mark is
// tokenized with the rest.
size_t TokenizeWithMarks(const std::string& source, char delimiter,
                         char start_mark, char end_mark,
                         std::vector<std::string>* fields);

}  // namespace talk_base

#endif  // TALK_BASE_STRINGENCODE_H_
