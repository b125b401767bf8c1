// The paged reads from the shell: log, recent, grep, deleted and blame.
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "commands.h"
#include "report.h"
#include "table.h"

namespace {

// -n N: 0 when not given (the library's default); -1 after a usage error.
int read_limit(const Parsed &p) {
  const char *n = option_value(p, "limit");
  if (!n) return 0;
  char *end;
  errno = 0;
  long v = strtol(n, &end, 10);
  if (!*n || *end || errno || v < 1 || v > INT_MAX) {
    usage_error(p.command, std::string("-n needs a whole number of at least 1, not '") + n + "'");
    return -1;
  }
  return static_cast<int>(v);
}

// The library's JSON, or its message as the failure.
bool take(const char *json, bool as_json, JValue *v, int *status) {
  if (!json) {
    *status = fail(wikidb_last_error());
    return false;
  }
  if (as_json) {
    write_out(json, strlen(json));
    write_out("\n", 1);
    *status = EXIT_OK;
    return false;
  }
  std::string error;
  if (!parse_json_value(json, v, &error)) {
    *status = fail("cannot read the library's report (" + error + ")");
    return false;
  }
  return true;
}

void print_more(const JValue &result, const std::string &again) {
  const JValue &next = result["next"];
  if (next.kind == JValue::STRING)
    write_out("(more: wikidb " + again + "--after " + next.str + ")\n");
}

std::string page_changes(const JValue &pages) {
  std::string out;
  for (const JValue &c : pages.items) {
    if (!out.empty()) out += ", ";
    const std::string &kind = c["kind"].str;
    std::string letter = kind == "added" ? "A" : kind == "deleted" ? "D" : kind == "renamed" ? "R" : "M";
    out += letter + " " + for_display(c["page"].str);
    if (kind == "renamed") out += " (from " + for_display(c["from"].str) + ")";
  }
  return out;
}

std::string quoted_arg(const std::string &arg) {
  bool plain = !arg.empty() && arg.find_first_not_of(
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-") == std::string::npos;
  if (plain) return arg;
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

int cmd_log(const Parsed &p) {
  int limit = read_limit(p);
  if (limit < 0) return EXIT_USAGE;
  if (has_flag(p, "follow") && has_flag(p, "no-follow"))
    return usage_error(p.command, "--follow and --no-follow exclude each other");
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  const char *title = p.args.empty() ? nullptr : p.args[0].c_str();
  const int flags = has_flag(p, "no-follow") ? 0 : WIKIDB_FOLLOW;
  const char *json = wikidb_history_page_json(w.h, title, option_value(p, "after"), limit,
                                              option_value(p, "author"), option_value(p, "since"),
                                              option_value(p, "until"), flags);
  JValue v;
  int status = EXIT_OK;
  if (!take(json, has_flag(p, "json"), &v, &status)) return status;
  std::vector<std::vector<std::string>> table;
  for (const JValue &e : v["entries"].items) {
    std::vector<std::string> line = {short_hash(e["hash"].str), for_display(e["date"].str),
                                     for_display(e["author"].str)};
    std::string summary = for_display(e["summary"].str);
    if (title) {
      line.push_back(e["size"].str + " B");
      if (e["renamed_from"].kind == JValue::STRING)
        summary += "  [renamed from " + for_display(e["renamed_from"].str) + "]";
    } else {
      summary += "  [" + page_changes(e["pages"]) + "]";
    }
    line.push_back(summary);
    table.push_back(line);
  }
  print_table(stdout, table, title ? std::vector<size_t>{3} : std::vector<size_t>{});
  std::string again = "log ";
  if (title) again += quoted_arg(title) + " ";
  print_more(v, again);
  return EXIT_OK;
}

int cmd_recent(const Parsed &p) {
  int limit = read_limit(p);
  if (limit < 0) return EXIT_USAGE;
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  const char *json = wikidb_recent_page_json(w.h, option_value(p, "after"), limit,
                                             option_value(p, "author"), option_value(p, "since"));
  JValue v;
  int status = EXIT_OK;
  if (!take(json, has_flag(p, "json"), &v, &status)) return status;
  // One line per page change, as before, with its kind.
  std::vector<std::vector<std::string>> table;
  for (const JValue &e : v["entries"].items) {
    for (const JValue &c : e["pages"].items) {
      std::string page = for_display(c["page"].str);
      if (c["kind"].str == "renamed") page += " (from " + for_display(c["from"].str) + ")";
      table.push_back({short_hash(e["hash"].str), for_display(e["date"].str),
                       for_display(e["author"].str), c["kind"].str, page,
                       for_display(e["summary"].str)});
    }
  }
  print_table(stdout, table);
  print_more(v, "recent ");
  return EXIT_OK;
}

int cmd_grep(const Parsed &p) {
  int limit = read_limit(p);
  if (limit < 0) return EXIT_USAGE;
  if (has_flag(p, "ignore-case") && has_flag(p, "case-sensitive"))
    return usage_error(p.command, "-i and --case-sensitive exclude each other");
  std::string query;
  for (const std::string &a : p.args) query += (query.empty() ? "" : " ") + a;
  int flags = 0;
  if (has_flag(p, "word-regexp")) flags |= WIKIDB_SEARCH_WORDS;
  if (has_flag(p, "titles")) flags |= WIKIDB_SEARCH_TITLES;
  if (has_flag(p, "extended-regexp")) flags |= WIKIDB_SEARCH_REGEX;
  if (has_flag(p, "case-sensitive")) flags |= WIKIDB_SEARCH_CASE;
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  JValue v;
  int status = EXIT_OK;
  if (!take(wikidb_search_json(w.h, query.c_str(), limit, flags), has_flag(p, "json"), &v, &status))
    return status;
  for (const JValue &hit : v["hits"].items) {
    if (hit["line"].str == "0")
      write_out(for_display(hit["page"].str) + " (title)\n");
    else
      write_out(for_display(hit["page"].str) + ":" + hit["line"].str + ":" + hit["column"].str + ": " +
                for_display(hit["text"].str) + "\n");
  }
  if (v["truncated"].str == "true")
    write_out("(more hits: raise -n, now " + std::to_string(v["hits"].items.size()) + ")\n");
  return EXIT_OK;
}

int cmd_deleted(const Parsed &p) {
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  JValue v;
  int status = EXIT_OK;
  if (!take(wikidb_deleted_pages_json(w.h), has_flag(p, "json"), &v, &status)) return status;
  std::vector<std::vector<std::string>> table;
  for (const JValue &d : v.items) {
    std::string how = d["renamed_to"].kind == JValue::STRING
                          ? "renamed to " + for_display(d["renamed_to"].str)
                          : for_display(d["summary"].str);
    table.push_back({for_display(d["page"].str), short_hash(d["deleted_in"].str),
                     for_display(d["date"].str),
                     "restore: wikidb restore " + quoted_arg(d["page"].str) + " " +
                         short_hash(d["restore_from"].str),
                     how});
  }
  print_table(stdout, table);
  return EXIT_OK;
}

int cmd_blame(const Parsed &p) {
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  const char *rev = p.args.size() > 1 ? p.args[1].c_str() : nullptr;
  JValue v;
  int status = EXIT_OK;
  if (!take(wikidb_blame_json(w.h, p.args[0].c_str(), rev), has_flag(p, "json"), &v, &status))
    return status;
  std::vector<std::vector<std::string>> table;
  for (const JValue &l : v.items)
    table.push_back({short_hash(l["hash"].str), for_display(l["author"].str),
                     l["date"].str.substr(0, 10), l["line"].str + ")", for_display(l["text"].str)});
  print_table(stdout, table, {3});
  return EXIT_OK;
}
