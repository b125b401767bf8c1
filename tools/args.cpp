#include <string.h>

#include "cli.h"

namespace {

const OptionSpec s_help = {'h', "help", nullptr, "show this command's help"};

const OptionSpec *find_short(const CommandSpec &cmd, char c) {
  if (c == s_help.short_name) return &s_help;
  for (const auto &o : cmd.options)
    if (o.short_name == c) return &o;
  return nullptr;
}

const OptionSpec *find_long(const CommandSpec &cmd, const std::string &name) {
  if (name == s_help.long_name) return &s_help;
  for (const auto &o : cmd.options)
    if (name == o.long_name) return &o;
  return nullptr;
}

}  // namespace

const char *option_value(const Parsed &p, const char *long_name) {
  const char *value = nullptr;
  for (const auto &o : p.options)
    if (strcmp(o.first->long_name, long_name) == 0) value = o.second.c_str();
  return value;
}

bool has_flag(const Parsed &p, const char *long_name) { return option_value(p, long_name) != nullptr; }

// Options may come before, between or after the operands, as in git; "--"
// ends them, so that a title or commit may begin with '-'. A lone "-" is an
// operand (standard input).
bool parse_command_args(const CommandSpec &cmd, int argc, char **argv, int first, Parsed *p) {
  p->command = &cmd;
  bool operands_only = false;
  for (int i = first; i < argc; i++) {
    std::string a = argv[i];
    if (operands_only || a.size() < 2 || a[0] != '-') {
      p->args.push_back(a);
      continue;
    }
    if (a == "--") {
      operands_only = true;
      continue;
    }
    const OptionSpec *o;
    std::string value;
    bool has_value = false;
    if (a[1] == '-') {
      size_t eq = a.find('=');
      std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      o = find_long(cmd, name);
      if (!o) return usage_error(&cmd, "unknown option '--" + name + "'"), false;
      if (eq != std::string::npos) {
        if (!o->value_name) return usage_error(&cmd, "option '--" + name + "' takes no value"), false;
        value = a.substr(eq + 1);
        has_value = true;
      }
    } else {
      o = find_short(cmd, a[1]);
      if (!o) return usage_error(&cmd, "unknown option '-" + a.substr(1, 1) + "'"), false;
      if (a.size() > 2) {
        if (!o->value_name) return usage_error(&cmd, "unknown option '" + a + "'"), false;
        value = a.substr(2);
        has_value = true;
      }
    }
    if (o == &s_help) {
      p->help = true;
      return true;
    }
    if (o->value_name && !has_value) {
      if (i + 1 >= argc)
        return usage_error(&cmd, std::string("option '--") + o->long_name + "' needs a value"), false;
      value = argv[++i];
    }
    p->options.emplace_back(o, o->value_name ? value : std::string("1"));
  }
  if (p->args.size() < cmd.min_args) return usage_error(&cmd, "missing argument"), false;
  if (p->args.size() > cmd.max_args)
    return usage_error(&cmd, "unexpected argument '" + p->args[cmd.max_args] + "'"), false;
  return true;
}
