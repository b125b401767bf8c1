// Reading the library's JSON reports back into rows for people's output.
#pragma once

#include <string>
#include <utility>
#include <vector>

// One element of a report: its fields in order, numbers kept as their
// decimal text. An element that is a bare string (the page list) becomes one
// field with an empty key.
struct Row {
  std::vector<std::pair<std::string, std::string>> fields;
  std::vector<std::string> null_keys;  // fields whose value is null
};

// The value of a field, or the empty text when the row lacks it.
const std::string &field(const Row &row, const char *key);

// Parses an array of strings or of flat objects. Returns false, with *error
// describing the fault, for any other text.
bool parse_report(const char *json, std::vector<Row> *rows, std::string *error);

// Whether the row has the field with a value other than null.
bool has_field(const Row &row, const char *key);

// The "conflicts" array of a write's report: {"merged":B,"conflicts":[...]}.
bool parse_conflicts(const char *json, std::vector<Row> *rows, std::string *error);
// Any JSON value, for the paged reads' nested objects. Numbers, true, false
// and null keep their text in str.
struct JValue {
  enum Kind { SCALAR, STRING, ARRAY, OBJECT } kind = SCALAR;
  std::string str;
  std::vector<JValue> items;
  std::vector<std::pair<std::string, JValue>> members;
  // The member of that name, or an empty scalar.
  const JValue &operator[](const char *key) const;
  bool is_null() const { return kind == SCALAR && str == "null"; }
};

bool parse_json_value(const char *json, JValue *value, std::string *error);
