// Reading one JSON string back into its bytes: used by the wikidb program
// for the library's reports, and by the fuzz harnesses that check them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

// Appends code point cp (at most U+10FFFF) in UTF-8.
inline void put_utf8(std::string *out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back((char)cp);
  } else if (cp < 0x800) {
    out->push_back((char)(0xc0 | (cp >> 6)));
    out->push_back((char)(0x80 | (cp & 0x3f)));
  } else if (cp < 0x10000) {
    out->push_back((char)(0xe0 | (cp >> 12)));
    out->push_back((char)(0x80 | ((cp >> 6) & 0x3f)));
    out->push_back((char)(0x80 | (cp & 0x3f)));
  } else {
    out->push_back((char)(0xf0 | (cp >> 18)));
    out->push_back((char)(0x80 | ((cp >> 12) & 0x3f)));
    out->push_back((char)(0x80 | ((cp >> 6) & 0x3f)));
    out->push_back((char)(0x80 | (cp & 0x3f)));
  }
}

// Four hex digits at p (before end) as a number; false when they are not.
inline bool read_json_hex4(const char *p, const char *end, uint32_t *v) {
  if (end - p < 4) return false;
  *v = 0;
  for (int k = 0; k < 4; k++) {
    char c = p[k];
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0) return false;
    *v = *v * 16 + (uint32_t)d;
  }
  return true;
}

// Reads the string that starts at *p (its opening quote) and ends before
// end, appending its bytes to out, and moves *p past the closing quote.
// Strict as RFC 8259 has it: no raw byte below 0x20, only the defined
// escapes, surrogates only in pairs. A byte above 0x7F stands for itself,
// so text that was not UTF-8 comes back as it was. Returns null, or what is
// wrong (and *p is then somewhere inside the string).
inline const char *read_json_string(const char **p, const char *end, std::string *out) {
  const char *s = *p;
  if (s >= end || *s != '"') return "expected a string";
  s++;
  for (;;) {
    if (s >= end) return "unterminated string";
    unsigned char c = (unsigned char)*s++;
    if (c == '"') break;
    if (c < 0x20) return "control byte in a string";
    if (c != '\\') {
      out->push_back((char)c);
      continue;
    }
    if (s >= end) return "unterminated string";
    switch (*s++) {
      case '"': out->push_back('"'); break;
      case '\\': out->push_back('\\'); break;
      case '/': out->push_back('/'); break;
      case 'b': out->push_back('\b'); break;
      case 'f': out->push_back('\f'); break;
      case 'n': out->push_back('\n'); break;
      case 'r': out->push_back('\r'); break;
      case 't': out->push_back('\t'); break;
      case 'u': {
        uint32_t cp, lo;
        if (!read_json_hex4(s, end, &cp)) return "bad \\u escape";
        s += 4;
        if (cp >= 0xdc00 && cp <= 0xdfff) return "lone surrogate";
        if (cp >= 0xd800 && cp <= 0xdbff) {
          if (end - s < 6 || s[0] != '\\' || s[1] != 'u' || !read_json_hex4(s + 2, end, &lo) ||
              lo < 0xdc00 || lo > 0xdfff)
            return "lone surrogate";
          s += 6;
          cp = 0x10000 + ((cp - 0xd800) << 10) + (lo - 0xdc00);
        }
        put_utf8(out, cp);
        break;
      }
      default:
        return "bad escape";
    }
  }
  *p = s;
  return nullptr;
}
