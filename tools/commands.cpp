#include "commands.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "platform.h"
#include "report.h"
#include "table.h"

namespace {

const char *arg_or_null(const Parsed &p, size_t i) {
  return i < p.args.size() ? p.args[i].c_str() : nullptr;
}

bool read_rows(const char *json, std::vector<Row> *rows) {
  std::string error;
  if (parse_report(json, rows, &error)) return true;
  fail("cannot read the library's report (" + error + ")");
  return false;
}

// The subject git shows for a commit made with message, or the default.
std::string subject_of(const char *message, const std::string &fallback) {
  if (!message || !*message) return fallback;
  std::string m = message;
  return m.substr(0, m.find('\n'));
}

// After a change succeeded: names the commit it made, in git's style, or
// says that git found nothing to commit.
int report_commit(wikidb_handle *h, const std::string &subject, const std::string &unchanged) {
  const std::string commit = wikidb_last_commit(h);
  if (!commit.empty())
    write_out("[" + short_hash(commit) + "] " + for_display(subject) + "\n");
  else
    write_out("nothing to commit (" + unchanged + ")\n");
  return EXIT_OK;
}

void print_json(const char *json) {
  write_out(json, strlen(json));
  write_out("\n", 1);
}

// A conflicting save: the report (JSON with --json), or with --merge the
// merged text with its conflict markers; exit status 3.
int report_conflict(wikidb_handle *h, const Parsed &p, bool merge) {
  const char *json = wikidb_conflict_json(h);
  if (has_flag(p, "json")) return print_json(json), EXIT_CONFLICT;
  std::vector<Row> rows;
  std::string error;
  Row first;
  // The report's fields, read with the program's own JSON reader.
  if (!parse_conflicts(json, &rows, &error)) return fail("cannot read the library's report (" + error + ")");
  for (const Row &r : rows) {
    const std::string merged = field(r, "merged_text");
    if (merge && has_field(r, "merged_text")) {
      write_out(merged);
      continue;
    }
    const std::string current = field(r, "current");
    write_out("conflict: " + for_display(field(r, "page")) + " was changed since " +
              (field(r, "expected").empty() ? std::string("it was missing")
                                             : short_hash(field(r, "expected"))) +
              (current.empty() ? std::string(" and is now deleted") : " by " + short_hash(current)) +
              "\n");
  }
  return EXIT_CONFLICT;
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
  const char *message = option_value(p, "message");
  const char *expected = option_value(p, "if");
  const bool merge = has_flag(p, "merge");
  int rc;
  if (expected || merge)
    rc = wikidb_save_page_if(w.h, title.c_str(), text.c_str(), option_value(p, "author"), message,
                             expected, merge ? WIKIDB_MERGE : 0);
  else
    rc = wikidb_save_page(w.h, title.c_str(), text.c_str(), option_value(p, "author"), message);
  if (rc == WIKIDB_CONFLICT) return report_conflict(w.h, p, merge);
  if (rc != 0) return fail(wikidb_last_error());
  return report_commit(w.h, subject_of(message, "Update " + title), title + " unchanged");
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
  const char *message = option_value(p, "message");
  if (wikidb_delete_page(w.h, p.args[0].c_str(), option_value(p, "author"), message) != 0)
    return fail(wikidb_last_error());
  return report_commit(w.h, subject_of(message, "Delete " + p.args[0]), "no page " + p.args[0]);
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
  if (wikidb_rollback(w.h, p.args[0].c_str(), p.args[1].c_str(), option_value(p, "author")) != 0)
    return fail(wikidb_last_error());
  return report_commit(w.h, "Rollback " + p.args[0] + " to " + p.args[1],
                       p.args[0] + " already holds its text of " + p.args[1]);
}

int cmd_mv(const Parsed &p) {
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  const char *message = option_value(p, "message");
  if (wikidb_rename_page(w.h, p.args[0].c_str(), p.args[1].c_str(), option_value(p, "author"),
                         message) != 0)
    return fail(wikidb_last_error());
  return report_commit(w.h, subject_of(message, "Rename " + p.args[0] + " to " + p.args[1]), "");
}

int cmd_rev(const Parsed &p) {
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  const char *rev = wikidb_page_revision(w.h, p.args[0].c_str());
  if (!rev) return fail(wikidb_last_error());
  write_out(std::string(rev) + "\n");
  return EXIT_OK;
}

int cmd_remote(const Parsed &p) {
  if (p.args[0] != "add" || p.args.size() != 3)
    return usage_error(p.command, "expected: remote add NAME URL");
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  if (wikidb_remote_set(w.h, p.args[1].c_str(), p.args[2].c_str(), option_value(p, "branch")) != 0)
    return fail(wikidb_last_error());
  return EXIT_OK;
}

int cmd_sync(const Parsed &p) {
  const bool pull = has_flag(p, "pull-only"), push = has_flag(p, "push-only");
  if (pull && push) return usage_error(p.command, "--pull-only and --push-only exclude each other");
  int flags = (pull ? WIKIDB_SYNC_PULL_ONLY : 0) | (push ? WIKIDB_SYNC_PUSH_ONLY : 0) |
              (has_flag(p, "allow-unrelated") ? WIKIDB_SYNC_ALLOW_UNRELATED : 0);
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  int rc = wikidb_sync(w.h, arg_or_null(p, 0), flags);
  if (rc == -1) return fail(wikidb_last_error());
  const char *json = wikidb_sync_report(w.h);
  if (has_flag(p, "json")) return print_json(json), rc == WIKIDB_CONFLICT ? EXIT_CONFLICT : EXIT_OK;
  JValue report;
  std::string error;
  if (!parse_json_value(json, &report, &error) || report.kind != JValue::OBJECT ||
      report["state"].kind != JValue::STRING)
    return fail("cannot read the library's report (" + error + ")");
  std::string line = report["state"].str;
  for (char &c : line)
    if (c == '_') c = ' ';
  write_out(line + " (ahead " + report["ahead"].str + ", behind " + report["behind"].str + ")\n");
  if (report["rewritten"].str == "true")
    write_out("note: the remote's branch was rewritten (force-pushed) since the last sync\n");
  for (const JValue &page : report["pages_changed"].items)
    write_out("changed: " + for_display(page.str) + "\n");
  for (const JValue &c : report["conflicts"].items)
    write_out("conflict: " + for_display(c["page"].str) + " (ours " + short_hash(c["ours"].str) +
              ", theirs " + short_hash(c["theirs"].str) + ")\n");
  return rc == WIKIDB_CONFLICT ? EXIT_CONFLICT : EXIT_OK;
}

int cmd_resolve(const Parsed &p) {
  const std::string &title = p.args[0];
  Wiki w(p);
  if (!w.h) return EXIT_FAILED;
  std::string text, error;
  if (!read_input(p.args.size() > 1 ? p.args[1] : "-", &text, &error)) return fail(error);
  if (text.find('\0') != std::string::npos) return fail("the text holds a NUL byte; nothing was saved");
  const char *message = option_value(p, "message");
  int rc = wikidb_sync_resolve(w.h, option_value(p, "remote"), title.c_str(), text.c_str(),
                               option_value(p, "author"), message);
  if (rc == WIKIDB_CONFLICT) return report_conflict(w.h, p, false);
  if (rc != 0) return fail(wikidb_last_error());
  return report_commit(w.h, subject_of(message, "Update " + title), title + " unchanged");
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
