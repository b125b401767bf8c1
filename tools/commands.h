// The handlers behind the command table; each returns the exit status.
#pragma once

#include "cli.h"

int cmd_init(const Parsed &p);
int cmd_save(const Parsed &p);
int cmd_cat(const Parsed &p);
int cmd_rm(const Parsed &p);
int cmd_ls(const Parsed &p);
int cmd_log(const Parsed &p);
int cmd_show(const Parsed &p);
int cmd_diff(const Parsed &p);
int cmd_restore(const Parsed &p);
int cmd_mv(const Parsed &p);
int cmd_rev(const Parsed &p);
int cmd_recent(const Parsed &p);
int cmd_grep(const Parsed &p);
int cmd_deleted(const Parsed &p);
int cmd_blame(const Parsed &p);
int cmd_remote(const Parsed &p);
int cmd_sync(const Parsed &p);
int cmd_resolve(const Parsed &p);
int cmd_version(const Parsed &p);
int cmd_help(const Parsed &p);
