#include "commands.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "platform.h"
#include "report.h"
#include "table.h"

namespace {

// Closes the handle on every way out of a command.
struct Wiki {
  wikidb_handle *h;
  explicit Wiki(const Parsed &p) : h(open_wiki(p)) {}
  ~Wiki() { wikidb_close(h); }
  Wiki(const Wiki &) = delete;
  Wiki &operator=(const Wiki &) = delete;
};

const char *arg_or_null(const Parsed &p, size_t i) {
  return i < p.args.size() ? p.args[i].c_str() : nullptr;
}

std::string short_hash(const std::string &hash) { return hash.substr(0, 7); }

bool read_rows(const char *json, std::vector<Row> *rows) {
  std::string error;
  if (parse_report(json, rows, &error)) return true;
  fail("cannot read the library's report (" + error + ")");
  return false;
}

struct Head {
  std::string hash, summary;
};

// The newest commit, taken from the recent-changes report: one git run, and
// every commit the library makes touches a page, so it is listed there.
Head latest_commit(wikidb_handle *h) {
  std::vector<Row> rows;
  std::string error;
  Head head;
  if (parse_report(wikidb_get_recent_changes_json(h, 1), &rows, &error) && !rows.empty()) {
    head.hash = field(rows[0], "hash");
    head.summary = field(rows[0], "summary");
  }
  return head;
}

// After a change succeeded: names the commit it made, in git's style, or
// says that git found nothing to commit.
int report_commit(wikidb_handle *h, const Head &before, const std::string &unchanged) {
  Head after = latest_commit(h);
  if (!after.hash.empty() && after.hash != before.hash)
    write_out("[" + short_hash(after.hash) + "] " + for_display(after.summary) + "\n");
  else
    write_out("nothing to commit (" + unchanged + ")\n");
  return EXIT_OK;
}

void print_json(const char *json) {
  write_out(json, strlen(json));
  write_out("\n", 1);
}

}  // namespace

int cmd_init(const Parsed &p) {
  bool existed = is_directory(p.root + "/.git");
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  write_out((existed ? "Reinitialized existing wiki in " : "Initialized empty wiki in ") +
            for_display(absolute_path(p.root)) + "\n");
  return EXIT_OK;
}

int cmd_save(const Parsed &p) {
  const std::string &title = p.args[0];
  std::string source = p.args.size() > 1 ? p.args[1] : "-";
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  std::string text, error;
  if (!read_input(source, &text, &error)) return fail(error);
  size_t nul = text.find('\0');
  if (nul != std::string::npos)
    return fail("the text holds a NUL byte (at offset " + std::to_string(nul) +
                "); the library keeps a page text only up to its first NUL, so nothing was "
                "saved");
  Head before = latest_commit(w.h);
  if (wikidb_save_page(w.h, title.c_str(), text.c_str(), option_value(p, "author"),
                       option_value(p, "message")) != 0)
    return fail(wikidb_last_error());
  return report_commit(w.h, before, title + " unchanged");
}

int cmd_cat(const Parsed &p) {
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  const char *text = wikidb_get_page(w.h, p.args[0].c_str());
  if (!text) return fail(wikidb_last_error());
  write_out(text, strlen(text));
  return EXIT_OK;
}

int cmd_rm(const Parsed &p) {
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  Head before = latest_commit(w.h);
  if (wikidb_delete_page(w.h, p.args[0].c_str(), option_value(p, "author"),
                         option_value(p, "message")) != 0)
    return fail(wikidb_last_error());
  return report_commit(w.h, before, "no page " + p.args[0]);
}

int cmd_ls(const Parsed &p) {
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  const char *json = wikidb_list_pages_json(w.h, arg_or_null(p, 0));
  if (has_flag(p, "json")) return print_json(json), EXIT_OK;
  std::vector<Row> rows;
  if (!read_rows(json, &rows)) return EXIT_FAILED;
  for (const Row &r : rows) write_out(for_display(r.fields.empty() ? "" : r.fields[0].second) + "\n");
  return EXIT_OK;
}

int cmd_show(const Parsed &p) {
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  const char *text = wikidb_get_revision(w.h, p.args[0].c_str(), p.args[1].c_str());
  if (!text) return fail(wikidb_last_error());
  write_out(text, strlen(text));
  return EXIT_OK;
}

int cmd_diff(const Parsed &p) {
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  const char *title = p.args[0].c_str(), *from = p.args[1].c_str(), *to = p.args[2].c_str();
  // The library hands back whatever git printed, its complaint about an
  // unknown commit included, and that complaint is worded in the user's
  // language. So: when the page can be read at both commits, git knows
  // them and its text is the diff; otherwise only a text shaped as git's
  // diffs are (empty, or starting "diff --git ") is one.
  const bool both_known = wikidb_get_revision(w.h, title, from) && wikidb_get_revision(w.h, title, to);
  const char *text = wikidb_get_diff(w.h, title, from, to);
  if (*wikidb_last_error()) return fail(wikidb_last_error());
  if (!both_known && *text && strncmp(text, "diff --git ", 11) != 0) return fail(text);
  write_out(text, strlen(text));
  return EXIT_OK;
}

int cmd_restore(const Parsed &p) {
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  Head before = latest_commit(w.h);
  if (wikidb_rollback(w.h, p.args[0].c_str(), p.args[1].c_str(), option_value(p, "author")) != 0)
    return fail(wikidb_last_error());
  return report_commit(w.h, before, p.args[0] + " already holds its text of " + p.args[1]);
}

int cmd_version(const Parsed &) {
  write_out(std::string("wikidb version ") + wikidb_version() + "\n");
  return EXIT_OK;
}

int cmd_help(const Parsed &p) {
  if (p.args.empty()) {
    print_full_help(stdout);
    return EXIT_OK;
  }
  const CommandSpec *cmd = find_command(p.args[0]);
  if (!cmd) return usage_error(p.command, "'" + p.args[0] + "' is not a wikidb command");
  print_command_help(stdout, *cmd);
  return EXIT_OK;
}
