// Shared by the fuzz harnesses: a check that crashes, a strict reader for
// the compact JSON the reports write, and reference models of the byte
// rules (git's quoted paths, page names) written apart from the library so
// the harnesses compare two independent readings of the same input.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "frame/strbuf.h"
#include "json_string.h"

// A violated property must be a crash so libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                          \
  do {                                                                            \
    if (!(cond)) {                                                                \
      fprintf(stderr, "fuzz property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      abort();                                                                    \
    }                                                                             \
  } while (0)

// The input up to its first 0 byte: what the parsers see of a git output.
inline std::string text_part(const uint8_t *data, size_t size) {
  const void *nul = memchr(data, 0, size);
  size_t n = nul ? (size_t)((const uint8_t *)nul - data) : size;
  return std::string((const char *)data, n);
}

// The input cut at 0 bytes: "a\0b" is {"a", "b"}.
inline std::vector<std::string> nul_fields(const uint8_t *data, size_t size) {
  std::vector<std::string> out(1);
  for (size_t i = 0; i < size; i++) {
    if (data[i] == 0)
      out.emplace_back();
    else
      out.back().push_back((char)data[i]);
  }
  return out;
}

inline std::string text_of(const strbuf &b) { return b.data ? std::string(b.data, b.len) : std::string(); }

// ---- UTF-8 ----------------------------------------------------------------

// Well-formed UTF-8 as RFC 3629 has it: shortest forms only, no surrogates,
// nothing above U+10FFFF.
inline bool valid_utf8(const std::string &s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = (unsigned char)s[i];
    size_t len;
    uint32_t cp;
    if (c < 0x80) {
      i++;
      continue;
    } else if (c >= 0xc2 && c <= 0xdf) {
      len = 2, cp = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
      len = 3, cp = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
      len = 4, cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i < len) return false;
    for (size_t k = 1; k < len; k++) {
      unsigned char d = (unsigned char)s[i + k];
      if ((d & 0xc0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3f);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff)) ||
        (cp >= 0xd800 && cp <= 0xdfff))
      return false;
    i += len;
  }
  return true;
}

// ---- strict compact JSON ----------------------------------------------------

// A JSON value as far as the reports use them: arrays, objects with ordered
// keys, strings (as bytes) and integers.
struct jvalue {
  enum kind_t { STRING, NUMBER, ARRAY, OBJECT } kind = STRING;
  std::string str;
  int64_t num = 0;
  std::vector<jvalue> items;
  std::vector<std::pair<std::string, jvalue>> members;
};

// Reads JSON with no whitespace anywhere, as the reports write it. Strings
// follow RFC 8259 strictly (no raw byte below 0x20, only the defined
// escapes, \u with four hex digits, surrogates only in pairs) but are read
// as bytes: a byte above 0x7F stands for itself, so text that was not UTF-8
// going in can be checked too.
struct jreader {
  const std::string &s;
  size_t i = 0;
  int depth = 0;

  explicit jreader(const std::string &text) : s(text) {}

  bool string(std::string *out) {
    const char *p = s.data() + i;
    out->clear();
    if (read_json_string(&p, s.data() + s.size(), out)) return false;
    i = (size_t)(p - s.data());
    return true;
  }

  bool number(int64_t *out) {
    bool neg = i < s.size() && s[i] == '-';
    if (neg) i++;
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    if (s[i] == '0' && i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '9') return false;
    uint64_t v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      uint64_t d = (uint64_t)(s[i++] - '0');
      if (v > (UINT64_MAX - d) / 10) return false;
      v = v * 10 + d;
    }
    if (neg ? v > (uint64_t)INT64_MAX + 1 : v > (uint64_t)INT64_MAX) return false;
    *out = neg ? (int64_t)(0 - v) : (int64_t)v;
    return true;
  }

  bool value(jvalue *v) {
    if (i >= s.size() || ++depth > 8) return false;
    bool ok;
    char c = s[i];
    if (c == '"') {
      v->kind = jvalue::STRING;
      ok = string(&v->str);
    } else if (c == '[') {
      v->kind = jvalue::ARRAY;
      i++;
      ok = true;
      if (i < s.size() && s[i] == ']') {
        i++;
      } else {
        for (;;) {
          v->items.emplace_back();
          if (!value(&v->items.back())) { ok = false; break; }
          if (i < s.size() && s[i] == ',') { i++; continue; }
          if (i < s.size() && s[i] == ']') { i++; break; }
          ok = false;
          break;
        }
      }
    } else if (c == '{') {
      v->kind = jvalue::OBJECT;
      i++;
      ok = true;
      if (i < s.size() && s[i] == '}') {
        i++;
      } else {
        for (;;) {
          v->members.emplace_back();
          if (!string(&v->members.back().first) || i >= s.size() || s[i++] != ':' ||
              !value(&v->members.back().second)) { ok = false; break; }
          if (i < s.size() && s[i] == ',') { i++; continue; }
          if (i < s.size() && s[i] == '}') { i++; break; }
          ok = false;
          break;
        }
      }
    } else {
      v->kind = jvalue::NUMBER;
      ok = number(&v->num);
    }
    depth--;
    return ok;
  }
};

// The whole text as one JSON value, or false.
inline bool parse_json(const std::string &text, jvalue *v) {
  jreader r(text);
  return r.value(v) && r.i == text.size();
}

// An object's members must be exactly these keys, in this order.
inline bool has_keys(const jvalue &v, std::initializer_list<const char *> keys) {
  if (v.kind != jvalue::OBJECT || v.members.size() != keys.size()) return false;
  size_t k = 0;
  for (const char *key : keys)
    if (v.members[k++].first != key) return false;
  return true;
}

// A second opinion on a report: when its text is UTF-8, a general JSON
// parser must read it too, to the same values in the same order.
inline bool same_value(const nlohmann::ordered_json &n, const jvalue &v) {
  switch (v.kind) {
    case jvalue::STRING: return n.is_string() && n.get<std::string>() == v.str;
    case jvalue::NUMBER: return n.is_number_integer() && n.get<int64_t>() == v.num;
    case jvalue::ARRAY:
      if (!n.is_array() || n.size() != v.items.size()) return false;
      for (size_t i = 0; i < v.items.size(); i++)
        if (!same_value(n[i], v.items[i])) return false;
      return true;
    case jvalue::OBJECT: {
      if (!n.is_object() || n.size() != v.members.size()) return false;
      size_t i = 0;
      for (auto it = n.begin(); it != n.end(); ++it, ++i)
        if (it.key() != v.members[i].first || !same_value(it.value(), v.members[i].second)) return false;
      return true;
    }
  }
  return false;
}

inline void check_report_json(const std::string &json, jvalue *v) {
  FUZZ_CHECK(parse_json(json, v));
  if (valid_utf8(json)) {
    nlohmann::ordered_json n = nlohmann::ordered_json::parse(json, nullptr, false);
    FUZZ_CHECK(!n.is_discarded());
    FUZZ_CHECK(same_value(n, *v));
  }
}

// ---- git's quoted paths, read and written independently -------------------

// The quoted form as git writes it: "..." with \" \\ \a \b \t \n \v \f \r
// and three octal digits for any byte (never 0). Anything else is not a
// quoted path.
inline bool ref_cquote_decode(const std::string &q, std::string *out) {
  out->clear();
  if (q.size() < 2 || q.front() != '"' || q.back() != '"') return false;
  const std::string body = q.substr(1, q.size() - 2);
  for (size_t i = 0; i < body.size(); i++) {
    char c = body[i];
    if (c == '"') return false;
    if (c != '\\') {
      out->push_back(c);
      continue;
    }
    if (++i >= body.size()) return false;
    static const char letters[] = "\"\\abtnvfr";
    static const char bytes[] = "\"\\\a\b\t\n\v\f\r";
    const char *hit = strchr(letters, body[i]);
    if (hit && *hit) {
      out->push_back(bytes[hit - letters]);
      continue;
    }
    if (body.size() - i < 3) return false;
    int v = 0;
    for (int k = 0; k < 3; k++) {
      char d = body[i + k];
      if (d < '0' || d > '7') return false;
      v = v * 8 + (d - '0');
    }
    if (v == 0 || v > 0xff) return false;
    out->push_back((char)v);
    i += 2;
  }
  return true;
}

// git's quote_c_style: letters for the usual controls, octal for the other
// controls and DEL; bytes from 0x80 up in octal when high_octal (git's
// core.quotepath true), or every byte in octal when all_octal.
inline std::string ref_cquote_encode(const std::string &raw, bool high_octal, bool all_octal) {
  std::string q = "\"";
  for (unsigned char c : raw) {
    char oct[5];
    snprintf(oct, sizeof oct, "\\%03o", c);
    if (all_octal) {
      q += oct;
      continue;
    }
    switch (c) {
      case '"': q += "\\\""; continue;
      case '\\': q += "\\\\"; continue;
      case '\a': q += "\\a"; continue;
      case '\b': q += "\\b"; continue;
      case '\t': q += "\\t"; continue;
      case '\n': q += "\\n"; continue;
      case '\v': q += "\\v"; continue;
      case '\f': q += "\\f"; continue;
      case '\r': q += "\\r"; continue;
    }
    if (c < 0x20 || c == 0x7f || (c >= 0x80 && high_octal))
      q += oct;
    else
      q.push_back((char)c);
  }
  return q + "\"";
}

// A repository path to its page name: decoded when quoted, backslashes
// made slashes, then "pages/" NAME ".wiki" with NAME not empty.
inline bool ref_page_name(const std::string &path, std::string *name) {
  std::string p;
  if (!path.empty() && path[0] == '"') {
    if (!ref_cquote_decode(path, &p)) return false;
  } else {
    p = path;
  }
  for (char &c : p)
    if (c == '\\') c = '/';
  if (p.size() < 12 || p.compare(0, 6, "pages/") != 0 || p.compare(p.size() - 5, 5, ".wiki") != 0)
    return false;
  *name = p.substr(6, p.size() - 11);
  return true;
}

// Lines as the reports split them: at line feeds, the last one possibly
// without its line feed, nothing after a 0 byte.
inline std::vector<std::string> ref_lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t lf = text.find('\n', start);
    if (lf == std::string::npos) lf = text.size();
    lines.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
  return lines;
}
