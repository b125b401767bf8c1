#include "report.h"

#include <string.h>

#include "json_string.h"

namespace {

struct Cursor {
  const char *p;
  std::string *error;
};

void skip_space(Cursor *c) {
  while (*c->p == ' ' || *c->p == '\t' || *c->p == '\n' || *c->p == '\r') c->p++;
}

bool fail(Cursor *c, const char *what) {
  *c->error = what;
  return false;
}

// Bytes other than escapes are copied unchanged: the library passes page
// names and subjects through without checking their encoding.
bool read_string(Cursor *c, std::string *out) {
  const char *problem = read_json_string(&c->p, c->p + strlen(c->p), out);
  return problem ? fail(c, problem) : true;
}

bool read_number(Cursor *c, std::string *out) {
  const char *start = c->p;
  if (*c->p == '-') c->p++;
  if (!(*c->p >= '0' && *c->p <= '9')) return fail(c, "expected a value");
  while ((*c->p >= '0' && *c->p <= '9') || *c->p == '.' || *c->p == 'e' || *c->p == 'E' ||
         *c->p == '+' || *c->p == '-')
    c->p++;
  out->assign(start, static_cast<size_t>(c->p - start));
  return true;
}

bool read_scalar(Cursor *c, std::string *out) {
  if (*c->p == '"') return read_string(c, out);
  for (const char *word : {"true", "false", "null"}) {
    size_t n = strlen(word);
    if (strncmp(c->p, word, n) == 0) {
      out->assign(word);
      c->p += n;
      return true;
    }
  }
  return read_number(c, out);
}

bool read_object(Cursor *c, Row *row) {
  c->p++;  // the '{'
  skip_space(c);
  if (*c->p == '}') {
    c->p++;
    return true;
  }
  for (;;) {
    std::pair<std::string, std::string> f;
    skip_space(c);
    if (!read_string(c, &f.first)) return false;
    skip_space(c);
    if (*c->p++ != ':') return fail(c, "expected ':'");
    skip_space(c);
    if (!read_scalar(c, &f.second)) return false;
    if (f.second == "null" && c->p[-1] == 'l' && c->p[-4] == 'n') row->null_keys.push_back(f.first);
    row->fields.push_back(std::move(f));
    skip_space(c);
    char ch = *c->p++;
    if (ch == '}') return true;
    if (ch != ',') return fail(c, "expected ',' or '}'");
  }
}

bool read_value(Cursor *c, JValue *v, int depth) {
  skip_space(c);
  if (depth > 32) return fail(c, "too deeply nested");
  if (*c->p == '"') {
    v->kind = JValue::STRING;
    return read_string(c, &v->str);
  }
  char open = *c->p;
  if (open != '[' && open != '{') {
    v->kind = JValue::SCALAR;
    return read_scalar(c, &v->str);
  }
  c->p++;
  v->kind = open == '[' ? JValue::ARRAY : JValue::OBJECT;
  const char close = open == '[' ? ']' : '}';
  skip_space(c);
  if (*c->p == close) {
    c->p++;
    return true;
  }
  for (;;) {
    skip_space(c);
    if (v->kind == JValue::ARRAY) {
      v->items.emplace_back();
      if (!read_value(c, &v->items.back(), depth + 1)) return false;
    } else {
      std::pair<std::string, JValue> m;
      if (!read_string(c, &m.first)) return false;
      skip_space(c);
      if (*c->p++ != ':') return fail(c, "expected ':'");
      if (!read_value(c, &m.second, depth + 1)) return false;
      v->members.push_back(std::move(m));
    }
    skip_space(c);
    char ch = *c->p++;
    if (ch == close) return true;
    if (ch != ',') return fail(c, "expected ',' or the end of a list");
  }
}

}  // namespace

const JValue &JValue::operator[](const char *key) const {
  static const JValue s_none;
  for (const auto &m : members)
    if (m.first == key) return m.second;
  return s_none;
}

bool parse_json_value(const char *json, JValue *value, std::string *error) {
  Cursor c = {json ? json : "", error};
  *value = JValue();
  if (!read_value(&c, value, 0)) return false;
  skip_space(&c);
  if (*c.p != '\0') return fail(&c, "text after the value");
  return true;
}

const std::string &field(const Row &row, const char *key) {
  static const std::string s_none;
  for (const auto &f : row.fields)
    if (f.first == key) return f.second;
  return s_none;
}

bool parse_report(const char *json, std::vector<Row> *rows, std::string *error) {
  Cursor c = {json ? json : "", error};
  rows->clear();
  skip_space(&c);
  if (*c.p++ != '[') return fail(&c, "expected '['");
  skip_space(&c);
  if (*c.p == ']') {
    c.p++;
  } else {
    for (;;) {
      skip_space(&c);
      Row row;
      if (*c.p == '{') {
        if (!read_object(&c, &row)) return false;
      } else {
        row.fields.emplace_back();
        if (!read_scalar(&c, &row.fields.back().second)) return false;
      }
      rows->push_back(std::move(row));
      skip_space(&c);
      char ch = *c.p++;
      if (ch == ']') break;
      if (ch != ',') return fail(&c, "expected ',' or ']'");
    }
  }
  skip_space(&c);
  if (*c.p != '\0') return fail(&c, "text after the array");
  return true;
}

bool has_field(const Row &row, const char *key) {
  for (const auto &k : row.null_keys)
    if (k == key) return false;
  for (const auto &f : row.fields)
    if (f.first == key) return true;
  return false;
}

bool parse_conflicts(const char *json, std::vector<Row> *rows, std::string *error) {
  static const char key[] = "\"conflicts\":";
  const char *at = json ? strstr(json, key) : nullptr;
  size_t len = at ? strlen(at) : 0;
  if (!at || len < sizeof key || at[len - 1] != '}') {
    *error = "expected a conflict report";
    return false;
  }
  std::string array(at + sizeof key - 1, len - (sizeof key - 1) - 1);
  return parse_report(array.c_str(), rows, error);
}
