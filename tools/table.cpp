#include "table.h"

#include <algorithm>

std::string for_display(const std::string &text) {
  bool plain = std::none_of(text.begin(), text.end(), [](char ch) {
    unsigned char b = static_cast<unsigned char>(ch);
    return b < 0x20 || b == 0x7F;
  });
  if (plain) return text;
  std::string out = "\"";
  for (char ch : text) {
    unsigned char b = static_cast<unsigned char>(ch);
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (b < 0x20 || b == 0x7F) {
          char esc[8];
          snprintf(esc, sizeof esc, "\\%03o", b);
          out += esc;
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
  return out;
}

size_t display_width(const std::string &text) {
  size_t n = 0;
  for (char ch : text)
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) n++;
  return n;
}

void print_table(FILE *out, const std::vector<std::vector<std::string>> &rows,
                 const std::vector<size_t> &right_aligned) {
  std::vector<size_t> width;
  for (const auto &row : rows) {
    if (width.size() < row.size()) width.resize(row.size(), 0);
    for (size_t i = 0; i < row.size(); i++) width[i] = std::max(width[i], display_width(row[i]));
  }
  for (const auto &row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); i++) {
      bool last = i + 1 == row.size();
      std::string pad(width[i] - display_width(row[i]), ' ');
      bool right = std::find(right_aligned.begin(), right_aligned.end(), i) != right_aligned.end();
      if (right) line += pad;
      line += row[i];
      if (!right && !last) line += pad;
      if (!last) line += "  ";
    }
    line.push_back('\n');
    fwrite(line.data(), 1, line.size(), out);
  }
}

std::string short_hash(const std::string &hash) { return hash.substr(0, 7); }
