/*
 * quenlow-wikidb: a wiki kept as plain files in a git repository.
 *
 * The library stores each page as ROOT/pages/TITLE.wiki and records every
 * change as a git commit in ROOT, running the git command-line program (found
 * on PATH) as a child process. Its functions are all declared here: the
 * thirteen of version 1.0, and those of version 1.1: the write API
 * (conditional saves, the commit a write made, renames and batches), the
 * paged reads (history and recent changes by cursor, search, deleted pages,
 * blame) and sync with a remote repository.
 *
 * Conventions that hold for every function below:
 *
 *  - Strings are NUL-terminated. On Linux they are bytes with no declared
 *    encoding and reach the file system and git unchanged; UTF-8 in gives
 *    UTF-8 out. On Windows every string is UTF-8, whatever the process's
 *    ANSI code page: the library speaks UTF-16 to the system (wide file
 *    functions, CreateProcessW), so git receives the same UTF-8 bytes as on
 *    Linux. There a title that is not valid UTF-8 is refused with the
 *    operation's invalid-title message; an author, message or revision that
 *    is not reaches git with U+FFFD in place of each bad sequence.
 *  - Operations that change the wiki return 0 on success and -1 on failure.
 *  - Every function except wikidb_version, wikidb_last_error and wikidb_close
 *    empties the error message on entry; on failure it leaves one message,
 *    readable with wikidb_last_error.
 *  - "The git runner's message" below is one of: "CreatePipe failed: CODE",
 *    "CreateProcessA for git failed: CODE" (git could not be started; CODE
 *    is the system's error number; the text is the same on every platform),
 *    "git command failed (exit code N): OUTPUT", "Out of memory reading git
 *    output", or "Exit status of git was lost: the host reaps child processes
 *    it did not start or ignores SIGCHLD" (see the rule on child processes
 *    below). A message cut to the slot's 2047 bytes ends before a UTF-8
 *    character it would split.
 *  - Returned text belongs to the library. The host never frees or writes it.
 *    Each query keeps its latest result in its own slot of the handle; the
 *    pointer stays valid until the same query replaces it on the same handle,
 *    or until wikidb_close. Queries of other kinds never disturb it.
 *  - One call at a time in the whole process: the error message is shared by
 *    every handle and thread. Several processes may write to one wiki at once;
 *    their writes are serialised.
 *  - Titles name pages below ROOT/pages; '/' or '\' places a page in a
 *    subdirectory. A title is refused when one of its components is empty,
 *    "." or "..", or ".git" in any letter case (so it may not start or end with
 *    a separator), or when its paths would not fit the library's fixed
 *    buffers (file path 1199 bytes, "pages/TITLE.wiki" 599 bytes). On Windows
 *    a title is also refused, before anything is written, when it is not
 *    valid UTF-8 or a component holds one of " * : < > ? | or a control byte,
 *    ends in a dot or a blank, or is a reserved device name (CON, PRN, AUX,
 *    NUL, COM1-COM9, LPT1-LPT9, also with the superscript digits 1-3, in any
 *    letter case, with or without an extension). On every platform it is
 *    also refused when git would refuse its path "pages/TITLE.wiki": a
 *    component that Windows or macOS would take for ".git" (".git" followed
 *    only by dots and spaces, "git~1" likewise, ".git" followed by ':' and a
 *    stream name such as "::$INDEX_ALLOCATION", or ".git" with Unicode code
 *    points that HFS+ ignores, U+200C-U+200F, U+202A-U+202E, U+206A-U+206F,
 *    U+FEFF, inside it); and when a directory of it ends in ".wiki"
 *    ("x.wiki/y"), since that directory would stand where page "x" keeps its
 *    file. Each operation refuses such a title with its invalid-title
 *    message, before anything is written.
 *  - On a volume that ignores letter case (Windows by default), a title
 *    whose file or directory exists under another spelling ("HOME" where
 *    "Home" is stored) names another page: saving, deleting or rolling back
 *    through it fails with "Title collides with existing page: EXISTING"
 *    (EXISTING the stored spelling, as far as it exists: "Home", or "Dir"
 *    for a directory), and reading it fails with "Page not found: TITLE".
 *  - Symbolic links below ROOT are never followed: no call creates, replaces
 *    or removes a file outside ROOT through a link (or junction) that exists
 *    when the call starts. A page whose directories include a link is
 *    refused; page files are written, replaced and removed by the library
 *    itself, git only changes the index.
 *  - Authors (save, delete, rollback): NULL or "" for the default identity
 *    "Wiki User <wiki@quenlow-wikidb.invalid>"; "NAME <MAIL>" (one '<', one
 *    '>' ending the text) for that identity; a text without '<' and '>' is a
 *    bare name, given the address NAME@users.quenlow-wikidb.invalid. git
 *    receives the identity whole, at most 255 bytes: a long name is cut (a
 *    bare name to 111 bytes), never the address or its brackets, and never
 *    inside a UTF-8 sequence; trailing blanks of the name are dropped. An
 *    author holding a control byte (0x00-0x1F or 0x7F), '<' and '>' in any
 *    other arrangement, a name made only of blanks and punctuation that git
 *    drops (. , : ; " ' \), or an address too long to fit is refused with
 *    "Invalid author" before anything is written.
 *  - Every write (save, delete, rollback) first takes the wiki's writer lock
 *    (ROOT/.git/wikidb.lock, shared by every process), then, before it
 *    touches the page file:
 *      - repairs after a writer that died mid-write (see the journal below);
 *      - refuses a repository in a state the library did not make, with
 *        "Wiki repository is in the middle of a merge" (also "rebase",
 *        "cherry-pick", "revert") or "Wiki repository has a detached HEAD";
 *        reads keep working in these states;
 *      - makes sure git can take its locks: ROOT/.git/index.lock, HEAD.lock
 *        or the branch's lock held by another git process is waited for.
 *    Nothing waits without a bound: the writer lock at most 60 s, then
 *    "Wiki is busy: ROOT/.git/wikidb.lock is locked by another writer"; a
 *    git lock at most 10 s, then "Wiki is busy: PATH is locked by another
 *    git process" (PATH the lock file). The page file is then untouched.
 *  - The journal: a write records the page it changes in ROOT/.git/
 *    wikidb-journal before it changes anything, and removes it at the end
 *    ("Failed to write the journal: PATH" refuses the write when it cannot
 *    be written). A write that fails after staging its page brings the
 *    page's index entry back to HEAD (the file keeps the new text), so no
 *    later commit records it under another author. A writer that finds the
 *    journal of a writer that died (killed, crashed, power cut) does the
 *    same for that page first, and removes the lock files git left for that
 *    writer (index, HEAD, branch, configuration, packed refs, commit-graph,
 *    maintenance); a lock file still there 3 s after the dead writer's
 *    journal is found (or after a write whose git died) is taken as its
 *    leftover. Changes the host staged itself are not touched: as before,
 *    the next commit records them.
 *
 * Child processes. Every git runs as a child of the host process, and its
 * exit status decides success. On Linux the library holds a process
 * descriptor of each git from its start and waits through it, so it does not
 * matter whether the host's SIGCHLD handler reaps every child
 * (waitpid(-1, ...)) or the host ignores SIGCHLD (SIG_IGN or SA_NOCLDWAIT):
 * from Linux 6.15 on, the kernel keeps the status for the descriptor even
 * when the process was reaped. Where it cannot (older kernels, other
 * systems), the host must not ignore SIGCHLD and must not reap children it
 * did not start while a call runs; a lost status is never taken for
 * success, the call fails with "Exit status of git was lost: ...". git
 * itself starts with every signal at its default, none blocked, and without
 * the host's descriptors.
 *
 * Time bounds. A git that has closed its output is given 30 seconds to exit,
 * then killed (its status reads 259, a failure). Once git has exited, its
 * output is read for at most 0.1 second more and then closed, so a
 * background process left by a repository hook that keeps git's output
 * open (post-commit "sleep 40 &") does not hold the call. A git that keeps
 * running with its output open for 10 minutes (a hook that hangs) is
 * killed and the run fails the same way (exit code 259); on Windows this
 * last bound is not yet enforced.
 *
 * git's environment. The library passes git the host's environment less:
 * GIT_DIR, GIT_WORK_TREE, GIT_INDEX_FILE, GIT_OBJECT_DIRECTORY,
 * GIT_ALTERNATE_OBJECT_DIRECTORIES, GIT_COMMON_DIR, GIT_NAMESPACE,
 * GIT_SHALLOW_FILE, GIT_CONFIG and the four *_PATHSPECS variables (they
 * would point git at another repository or file, or read a title as a
 * pattern); every GIT_TRACE* variable (trace lines would join the output that
 * is read); GIT_EXTERNAL_DIFF, GIT_DIFF_OPTS, GIT_DIFF_PATH_COUNTER and
 * GIT_DIFF_PATH_TOTAL (they replace or reshape diffs); GIT_CONFIG_PARAMETERS,
 * GIT_CONFIG_COUNT and every GIT_CONFIG_KEY_* and GIT_CONFIG_VALUE_* (settings
 * that would outrank the ones below); GIT_AUTHOR_DATE and GIT_COMMITTER_DATE
 * (every commit carries the time it was made); GIT_REDIRECT_STDIN,
 * GIT_REDIRECT_STDOUT and GIT_REDIRECT_STDERR; and every GIT_TEST_* variable.
 * It adds GIT_LITERAL_PATHSPECS=1, GIT_TRACE2=0, GIT_TRACE2_PERF=0 and
 * GIT_TRACE2_EVENT=0, and pins these settings for every git it runs (through
 * GIT_CONFIG_COUNT, above any configuration file): i18n.logOutputEncoding and
 * i18n.commitEncoding UTF-8; core.quotepath, color.ui, color.diff,
 * log.showSignature, log.follow, diff.noprefix, diff.suppressBlankEmpty,
 * commit.gpgsign and core.autocrlf false; diff.context 3; commit.cleanup
 * verbatim; core.excludesFile empty (the user's ignore file cannot hide
 * pages); core.fsync "committed,index" and core.fsyncMethod fsync;
 * maintenance.auto false (no housekeeping started behind a commit).
 * Everything else stays the host's: the language of git's messages, the
 * user's and system's configuration files (identity, GIT_COMMITTER_NAME and
 * GIT_COMMITTER_EMAIL included) and the repository's hooks. Diffs are asked
 * with --no-ext-diff, since no setting can switch an external diff program
 * off.
 *
 * Durability. When a call that changes the wiki returns 0, its page file and
 * its commit survive a power cut: the page's text is synced before it
 * replaces the page, the page's directory after that (and the parent of a
 * directory the save created), a rolled-back page and the directory of a
 * deleted one before their commit, and git syncs its objects, index and
 * branch reference (the pinned core.fsync) before it reports success.
 */
#ifndef QUENLOW_WIKIDB_H
#define QUENLOW_WIKIDB_H

#if defined(WIKIDB_STATIC)
#  define WIKIDB_API
#elif defined(_WIN32)
#  if defined(WIKIDB_BUILDING)
#    define WIKIDB_API __declspec(dllexport)
#  else
#    define WIKIDB_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define WIKIDB_API __attribute__((visibility("default")))
#else
#  define WIKIDB_API
#endif

#define WIKIDB_VERSION_MAJOR 1
#define WIKIDB_VERSION_MINOR 1
#define WIKIDB_VERSION_PATCH 0
#define WIKIDB_VERSION_TEXT "1.1.0"

/** Returned by the write API when the caller must act: a page changed since
    the revision the caller expected, and nothing was written. */
#define WIKIDB_CONFLICT 1

/** Flag of the write API: merge edits that do not overlap and commit. */
#define WIKIDB_MERGE 1

#ifdef __cplusplus
extern "C" {
#endif

/** An open wiki. Opaque: made by wikidb_open, released by wikidb_close. */
typedef struct wikidb_handle wikidb_handle;

/* ---------------------------------------------------------------- frame */

/**
 * The library's version, WIKIDB_VERSION_TEXT ("1.1.0").
 *
 * Returns a static string, the same pointer on every call; never NULL.
 * Touches nothing, may be called at any time.
 */
WIKIDB_API const char *wikidb_version(void);

/**
 * The message of the most recent failure in this process.
 *
 * Returns a pointer to a static buffer (at most 2047 bytes of text): the empty
 * string when the last call recorded no error. Never NULL. The text is valid
 * until the next library call that changes it. Does not change the message.
 */
WIKIDB_API const char *wikidb_last_error(void);

/* ------------------------------------------------------------ lifecycle */

/**
 * Opens the wiki at wiki_root, creating it when needed.
 *
 * Creates wiki_root, wiki_root/pages and wiki_root/meta when missing, runs
 * "git init" when wiki_root/.git is not a directory, and writes the repository
 * settings user.name, user.email, commit.gpgsign=false, core.autocrlf=false and
 * core.quotepath=false at every open, holding the writer lock while it does,
 * so that concurrent opens never find the configuration locked by each
 * other. It first repairs after a writer that died (see the journal).
 *
 * wiki_root: path, absolute or relative to the current directory. Trailing
 *            '/' and '\' are dropped. Must be non-empty, at most 1023 bytes
 *            after that, and not made only of separators.
 *
 * Returns a new handle, to be released with wikidb_close, or NULL on failure
 * with the message set ("Invalid wiki_root parameter", "Memory allocation
 * failed", "Wiki root is a bare repository" when wiki_root itself is one
 * (nothing is created in it), or the git runner's message when "git init"
 * fails or git cannot be started for a new repository). A failed setting
 * does not fail the open; its message then stays readable after the
 * successful call. So does the busy message of the writer lock (the settings
 * are then not written) and a failed repair.
 */
WIKIDB_API wikidb_handle *wikidb_open(const char *wiki_root);

/**
 * Releases the handle and every text it returned. NULL is accepted and
 * ignored. The handle and all pointers obtained from it are invalid
 * afterwards. The error message is not touched.
 */
WIKIDB_API void wikidb_close(wikidb_handle *handle);

/* ---------------------------------------------------------------- pages */

/**
 * Writes a page and commits it.
 *
 * The text replaces the page file atomically (a failed write leaves the old
 * page intact), is staged and committed with the given author and message.
 *
 * title:   the page title (see the title rules above).
 * content: the page text up to its NUL; NULL saves an empty page.
 * author:  see the author rules above.
 * message: the commit message; NULL or "" for "Update TITLE". Any other
 *          message is recorded exactly as given, at any length (16 MiB and
 *          more: long ones reach git on its standard input), comment-like
 *          lines, blank lines and trailing blanks included; git only adds a
 *          line feed when the message does not end with one. A default
 *          message cut to its 255 bytes ends before a UTF-8 character it
 *          would split.
 *
 * Returns 0 on success, also when the text was unchanged and git had nothing
 * to commit. Returns -1 on failure: "Invalid handle", "Invalid title",
 * "Invalid author", "Title collides with existing page: EXISTING" (see the
 * title rules above), the refusals and busy messages common to all writes,
 * "Failed to open file for writing: PATH" (also when a directory of the page
 * is a symbolic link), "Failed to write content to: PATH", or the git
 * runner's message. A failure after the file was written does not undo the
 * write, but takes the page back out of the index.
 */
WIKIDB_API int wikidb_save_page(wikidb_handle *handle, const char *title, const char *content,
                                const char *author, const char *message);

/**
 * Reads the current text of a page from its file (committed or not).
 *
 * Returns the page's bytes followed by a NUL, owned by the handle and valid
 * until the next successful wikidb_get_page on it (a 0 byte inside the page
 * ends the text for a C reader, though all bytes are stored). Returns NULL on
 * failure: "Invalid parameters to wikidb_get_page", "Page not found: TITLE"
 * (the previous result then stays valid), or "Out of memory reading page"
 * (the previous result is then released).
 */
WIKIDB_API const char *wikidb_get_page(wikidb_handle *handle, const char *title);

/**
 * Removes a page and commits the removal.
 *
 * author and message as for wikidb_save_page; the default message is
 * "Delete TITLE". Deleting a page that does not exist succeeds when there is
 * nothing to commit. git removes the page from the index only ("rm -f
 * --cached"); the library removes the file.
 *
 * Returns 0, or -1 with "Invalid parameters to wikidb_delete_page" (also when
 * a directory of the page is a symbolic link; nothing is then removed),
 * "Invalid author", "Title collides with existing page: EXISTING", the
 * refusals and busy messages common to all writes, or the git runner's
 * message.
 */
WIKIDB_API int wikidb_delete_page(wikidb_handle *handle, const char *title, const char *author,
                                  const char *message);

/* ------------------------------------------------------------ revisions */

/**
 * Reads a page as it was at a commit ("git show COMMIT:pages/TITLE.wiki").
 *
 * commit: any revision git accepts (typically a hash from the history);
 *         must not begin with '-'.
 *
 * Returns the text git printed, owned by the handle and valid until the next
 * successful wikidb_get_revision on it; a static empty string when the page
 * was empty at that commit. Returns NULL on failure with "Invalid parameters
 * to wikidb_get_revision" or the git runner's message (unknown commit, page
 * absent there); the previous result then stays valid.
 */
WIKIDB_API const char *wikidb_get_revision(wikidb_handle *handle, const char *title,
                                           const char *commit);

/**
 * The unified diff of a page between two commits, as git prints it.
 *
 * from_commit, to_commit: revisions git accepts, may be "", must not begin
 *         with '-'.
 *
 * Never returns NULL. Returns git's output (a diff, or git's complaint about
 * a revision it does not know: no error is then recorded) owned by the handle
 * and valid until the next wikidb_get_diff on it that passes the parameter
 * check, or a static empty string when git printed nothing. Invalid
 * parameters give the static empty string with "Invalid parameters to
 * wikidb_get_diff", the previous result staying valid.
 */
WIKIDB_API const char *wikidb_get_diff(wikidb_handle *handle, const char *title,
                                       const char *from_commit, const char *to_commit);

/**
 * Restores a page's text as of a commit and commits it with the message
 * "Rollback TITLE to COMMIT".
 *
 * commit: a revision git accepts; must not begin with '-'.
 * author: as for wikidb_save_page.
 *
 * The old text is read from git ("ls-tree", "cat-file"), written to the page
 * file by the library as a save writes it, and put in the index as that
 * commit's blob ("update-index --cacheinfo"): git itself never writes into
 * the work tree.
 *
 * Returns 0, also when the page already holds that text; -1 with "Invalid
 * parameters to wikidb_rollback" (also when a directory of the page is a
 * symbolic link, or the page was a link or submodule at that commit),
 * "Invalid author", "Title collides with existing page: EXISTING", the
 * refusals and busy messages common to all writes, "Failed to open file for
 * writing: PATH", "Failed to write content to: PATH", or the git runner's
 * message (an unknown commit, or no such page at it).
 */
WIKIDB_API int wikidb_rollback(wikidb_handle *handle, const char *title, const char *commit,
                               const char *author);

/* -------------------------------------------------------------- reports */

/*
 * The three reports return one compact JSON array, owned by the handle in
 * the report's own slot and valid until the same report runs again on the
 * handle. A NULL handle gives the static "[]" with "Invalid handle". When git
 * fails or prints nothing, or memory runs out while the report is made, the
 * report is "[]" and no error is recorded: a report is whole or empty.
 */

/**
 * Names of the wiki's pages: ["a","b/c",...], in git's order, including
 * pages not yet committed. Names carry '/' between directories, without
 * "pages/" and ".wiki".
 *
 * prefix: NULL or "" for all pages; otherwise only names starting with these
 *         bytes (case-sensitive).
 */
WIKIDB_API const char *wikidb_list_pages_json(wikidb_handle *handle, const char *prefix);

/**
 * Commits touching a page, newest first:
 * [{"hash":H,"author":A,"date":D,"summary":S,"size":N},...]
 * H the full hash, A the author name, D the author date as "git log
 * --date=iso" prints it, S the subject, N the page's size in bytes in that
 * commit (0 where the page did not exist).
 *
 * Every side of a merge is walked, so an edit made on either side (by
 * another wiki that syncs with this one, say) is listed even where the merge
 * kept the other side's text; a merge itself is listed when the page in it
 * differs from the page in at least one of its parents.
 *
 * title: NULL or "" for every commit of the wiki, each with size 0.
 */
WIKIDB_API const char *wikidb_get_history_json(wikidb_handle *handle, const char *title);

/**
 * Page changes of the latest commits, newest first, one element per page
 * file a commit added, changed or removed:
 * [{"hash":H,"author":A,"date":D,"summary":S,"page":P},...]
 * with the fields of the history and P the page name. Author values are cut
 * to at most 255 bytes and subjects to at most 511, at the end of the last
 * whole UTF-8 character that fits, so UTF-8 in gives valid UTF-8 out.
 *
 * limit: number of commits to look at; 0 or negative means 50.
 */
WIKIDB_API const char *wikidb_get_recent_changes_json(wikidb_handle *handle, int limit);


/* ------------------------------------------------------------ write API */

/*
 * Writes a host can trust when several editors work at once.
 *
 * How these writes work, and what they promise beyond the functions above:
 *
 *  - The commit is built in git's object store from the branch tip, without
 *    the shared index or work tree: the touched trees are read with one
 *    cat-file, edited in memory, and the new blobs and trees stored with one
 *    unpack-objects (hash-object each in a repository whose hash is not
 *    SHA-1); commit-tree makes the commit, which is then published by a
 *    compare-and-swap of the branch HEAD names ("update-ref HEAD NEW OLD").
 *    Its cost grows with the directories touched, not with the wiki: a save
 *    rewrites only its page's directory tree and those above it.
 *    When the branch moved meanwhile (another process, or a person running
 *    git), the commit is built again on the new tip: a change to other pages
 *    is kept and is never a conflict; a change to a page whose revision the
 *    caller expected is a WIKIDB_CONFLICT. Two writers never lose each
 *    other's commit. The condition is checked on the page's text: the page
 *    is as expected when the branch holds exactly the text it had at the
 *    expected revision (so a change undone since, which a save could not
 *    lose, is no conflict), and no history is walked to check it.
 *  - Then exactly the touched pages' files (each replaced atomically, no
 *    symbolic link followed) and their index entries are brought to the new
 *    commit. Nothing else in the index or work tree changes: a change a host
 *    staged by hand stays staged and is not committed. A writer killed at any
 *    point leaves the old or the new commit published, never part of one; a
 *    record in .git names the pages it was changing, and the next writer of
 *    this API brings their files and index entries in line with HEAD first.
 *    When the index stays locked by another git for a few seconds after the
 *    commit was published, the write still returns 0 (the commit stands) and
 *    the next writer brings the pages in line.
 *  - Hooks: these commits run no pre-commit, commit-msg or post-commit hook,
 *    since commit-tree runs none. A hook could change the commit after the
 *    caller's condition was checked, or fail a write another process already
 *    depends on; a host that wants checks makes them before it writes.
 *  - The new objects are stored loose, as git commit stores them; in a wiki
 *    with one very large directory of pages each save leaves a copy of that
 *    directory's tree (2.5 MB compressed at 100,000 pages). They are packed
 *    by the housekeeping every library commit counts towards (git's
 *    commit-graph refresh and "gc --auto" on the same cadence as for
 *    wikidb_save_page), so the repository does not grow without bound.
 *  - Titles, authors ("Invalid author" as for wikidb_save_page), the writer
 *    lock, its bounded wait and its messages, the repair after a writer that
 *    died, and the repository settings are as for wikidb_save_page. A write here without a message gets "Update TITLE",
 *    "Delete TITLE", "Rename FROM to TO", or "Change N pages" for a batch of
 *    several changes; the message is given to git whole, of any length.
 *  - A rename is recorded in its commit's message by a trailer line after a
 *    blank line, one per rename:  Wikidb-Rename: "OLD" -> "NEW"
 *    where OLD and NEW are the page names (with '/') written as JSON strings
 *    (quote, backslash and control bytes escaped), so any title round-trips.
 *  - expected_revision: NULL for no condition; "" when the page must not exist;
 *    otherwise the page's revision as wikidb_page_revision gave it, whole or
 *    abbreviated to 7 hex digits or more. Anything else is refused with
 *    "Invalid expected revision".
 *  - flags: 0 or WIKIDB_MERGE; other bits are refused with "Invalid flags".
 *  - Every write of this API, and wikidb_save_page, wikidb_delete_page and
 *    wikidb_rollback, empties the last commit (wikidb_last_commit) when it
 *    starts; every write of this API also empties the conflict report.
 *  - Messages of the write API's failures: "Invalid handle", "Invalid title",
 *    "Invalid expected revision", "Invalid flags", "Memory allocation failed",
 *    "Page not found: TITLE" (a rename's source is absent), "Page already
 *    exists: TITLE" (a rename's target is there), "Page path is blocked by a
 *    directory or file: PATH" (a page where a directory of pages is, or the
 *    reverse), "Not a page file: TITLE" (a rename of a link or submodule),
 *    "The branch kept moving while the commit was built", "Unexpected output
 *    from git cat-file", "Unexpected hash from git", or the git runner's
 *    message (git's own when, for instance, a date of wikidb_commit_as is not
 *    one git reads, or the branch stayed locked by another git).
 */

/**
 * The page's revision: the full hash of the last commit that changed the
 * page, as HEAD's history tells it; "" when the page does not exist at HEAD
 * (never created, or deleted), also in a wiki without commits. This is the
 * token an editor keeps while its user edits, for wikidb_save_page_if.
 *
 * Returns the text in the handle's own slot for this query (valid until the
 * next wikidb_page_revision on it), or NULL with "Invalid handle", "Invalid
 * title", "Memory allocation failed" or the git runner's message.
 */
WIKIDB_API const char *wikidb_page_revision(wikidb_handle *handle, const char *title);

/**
 * Saves a page only if its revision is still the one expected.
 *
 * title, content, author, message as for wikidb_save_page (content NULL is an
 * empty page); expected_revision and flags as described above.
 *
 * Returns 0 when saved (wikidb_last_commit gives the commit, or "" when the
 * page already held this text); WIKIDB_CONFLICT when the page changed since
 * the expected revision (its text is no longer the one it had there, or it
 * was created or deleted): nothing is written and wikidb_conflict_json
 * describes it. With WIKIDB_MERGE, a text whose edits do not overlap the
 * page's changes since the expected revision is merged (git merge-file) and
 * committed at once: 0, and the report says "merged":true. Returns -1 on
 * failure with one of the messages above.
 */
WIKIDB_API int wikidb_save_page_if(wikidb_handle *handle, const char *title, const char *content,
                                   const char *author, const char *message,
                                   const char *expected_revision, int flags);

/**
 * The full hash of the commit the last write on this handle made: any write
 * of this API, wikidb_save_page, wikidb_delete_page, wikidb_rollback. "" when
 * that write made no commit (the wiki already held it, it conflicted or it
 * failed) or no write ran yet. Owned by the handle, valid until the next
 * write on it. A NULL handle gives "" with "Invalid handle".
 */
WIKIDB_API const char *wikidb_last_commit(wikidb_handle *handle);

/**
 * The report of the last write of this API on the handle, as compact JSON:
 *   {"merged":B,"conflicts":[{"page":T,"expected":E,"current":C,
 *     "base_text":X,"ours":X,"theirs":X,"merged_text":X,"clean":B},...]}
 * One element per stale page (every one of a batch), in the order staged:
 * T the page name, E the revision expected ("" for must-not-exist), C its
 * revision now ("" when deleted). The texts: base_text the page at E, ours
 * the text being saved, theirs the page now, merged_text git's three-way
 * merge of them with conflict markers "<<<<<<< ours", "=======", ">>>>>>>
 * theirs" where the edits overlap; each is null where there is none (a
 * delete or rename has no "ours", a deleted page no "theirs", and no merge is
 * made without both). clean: the merge had no overlap. "merged" is true
 * when WIKIDB_MERGE merged every stale page and the merged texts were
 * committed (or the commit then failed: the call's result says which).
 * Without a conflict or merge: {"merged":false,"conflicts":[]}.
 *
 * Owned by the handle, valid until its next write of this API. A NULL handle
 * gives the empty report with "Invalid handle".
 */
WIKIDB_API const char *wikidb_conflict_json(wikidb_handle *handle);

/**
 * Renames (moves) a page in one commit, keeping its text and history: the
 * commit removes FROM and adds TO with the same content, and carries the
 * Wikidb-Rename trailer. author and message as for wikidb_save_page; the
 * default message is "Rename FROM to TO".
 *
 * Returns 0, or -1 with "Page not found: FROM", "Page already exists: TO"
 * (also when both name the same page) or another message above.
 */
WIKIDB_API int wikidb_rename_page(wikidb_handle *handle, const char *from, const char *to,
                                  const char *author, const char *message);

/**
 * Batches: several changes committed as one commit, all or nothing.
 *
 * wikidb_begin opens a batch on the handle ("A batch is already begun on this
 * handle" when one is open). The stage functions record a change and its
 * condition, touching nothing yet; they take titles and expected revisions
 * as above and fail with "No batch begun on this handle", "Invalid title",
 * "Invalid expected revision" or "Memory allocation failed" (the batch then
 * stays as it was). Changes apply in the order staged, so a page saved and
 * then renamed in one batch moves with its new text; each expected revision
 * is checked against the page as the branch holds it when committing.
 *
 * wikidb_commit commits the batch with one author and message and ends it,
 * whatever the outcome: 0 (an empty batch, or one that changes nothing, makes
 * no commit), WIKIDB_CONFLICT when any page is stale (nothing committed; the
 * report lists every stale page; with WIKIDB_MERGE all are merged when every
 * one is a save that merges without overlap), or -1. wikidb_abort drops the
 * batch and writes nothing. wikidb_close drops an open batch.
 */
WIKIDB_API int wikidb_begin(wikidb_handle *handle);
WIKIDB_API int wikidb_stage_save(wikidb_handle *handle, const char *title, const char *content,
                                 const char *expected_revision);
WIKIDB_API int wikidb_stage_delete(wikidb_handle *handle, const char *title,
                                   const char *expected_revision);
WIKIDB_API int wikidb_stage_rename(wikidb_handle *handle, const char *from, const char *to,
                                   const char *expected_revision);
WIKIDB_API int wikidb_commit(wikidb_handle *handle, const char *author, const char *message,
                             int flags);

/**
 * wikidb_commit for imports: the commit takes the given author and committer
 * ("Name <mail>" as for author elsewhere; committer NULL or "" for the
 * repository's identity) and dates (NULL or "" for now), so that a wiki
 * migrated from elsewhere keeps its history. Dates are given to git as they
 * are: "@UNIX +ZONE" (e.g. "@1700000000 +0100"), ISO 8601
 * ("2023-11-14 22:13:20 +0100") or any form git reads; a form git refuses
 * fails the commit with git's message.
 */
WIKIDB_API int wikidb_commit_as(wikidb_handle *handle, const char *author, const char *author_date,
                                const char *committer, const char *committer_date,
                                const char *message, int flags);
WIKIDB_API int wikidb_abort(wikidb_handle *handle);
/* ---------------------------------------------------------- paged reads */

/*
 * Reads for a host that shows a wiki of any size a page at a time. Unlike
 * the reports above they report failures: each returns its JSON text, owned
 * by the handle in the function's own slot (valid until the same function
 * runs again on the handle, or wikidb_close), or NULL with a message: the
 * git runner's message when git failed (git's standard error, never taken
 * for content), "Invalid handle", "Out of memory", or the function's own
 * messages below.
 *
 * Entries of the histories share these members, in this order:
 *   "hash"      the commit's full hash
 *   "author"    the author's name, "email" the author's e-mail address
 *   "date"      the author date as "git log --date=iso" prints it
 *   "timestamp" the same as seconds since 1970 (UTC)
 *   "summary"   the subject line of the message
 */

#define WIKIDB_FOLLOW 1        /* history flag: follow recorded renames */
#define WIKIDB_SEARCH_WORDS 1  /* search flag: whole words only */
#define WIKIDB_SEARCH_TITLES 2 /* search flag: page titles too */
#define WIKIDB_SEARCH_REGEX 4  /* search flag: words are extended regular expressions */
#define WIKIDB_SEARCH_CASE 8   /* search flag: letter case must match */

/**
 * One page of the history of a page, or of the whole wiki, newest first:
 *   {"entries":[ENTRY,...],"next":CURSOR}
 * CURSOR is a string to pass back for the following page, or null after
 * the last one.
 *
 * title:  a page title, or NULL or "" for the whole wiki.
 * cursor: NULL or "" for the first page; else a "next" value this function
 *         returned for the same title, author, since, until and flags. The
 *         cursor pins the commit the first page started from, so commits
 *         made meanwhile neither shift nor repeat entries, and it counts
 *         commits of git's own walk, so merges lose none. Where the history
 *         is a single line (no merge still to come), it also names the
 *         commit the walk goes on from, and a later page costs what the
 *         first does; otherwise git skips the entries already shown. It is plain ASCII
 *         (letters, digits, '.', '-') and safe in a URL.
 * limit:  entries per page; 0 or negative means 50, at most 10000.
 * author: NULL or "" for all; else only commits whose author "Name <mail>"
 *         holds this text, in any ASCII letter case (a literal text, not a
 *         pattern; no line breaks).
 * since, until: NULL or "" for no bound; else only commits whose commit
 *         date is at or after since, at or before until. A date is "@N" or
 *         N (seconds since 1970), or "YYYY-MM-DD" with an optional time
 *         "HH:MM" or "HH:MM:SS" after 'T' or ' ' and an optional zone "Z",
 *         "+HH", "+HHMM" or "+HH:MM"; no time means midnight, no zone UTC.
 * flags:  WIKIDB_FOLLOW to continue a page's history under its old title
 *         before each rename recorded in a commit message by a line
 *           Wikidb-Rename: "OLD" -> "NEW"
 *         (titles as JSON strings, the form wikidb_rename_page writes), when
 *         that commit did remove OLD and add NEW. Renames made outside the
 *         library are not followed: the history then ends at the commit
 *         that added the page under its new title. Each stretch under one
 *         title is a plain path-limited walk, so git's commit-graph filters
 *         keep it fast.
 *
 * A page ENTRY has the shared members, then
 *   "size"  the page's size in bytes in that commit (0 where it removed it)
 *   "page"  the title the page had in that commit
 *   "renamed_from"  only on the commit of a followed rename: the old title.
 * A whole-wiki ENTRY has the shared members, then
 *   "pages":[{"page":P,"kind":K},...], the page files the commit changed,
 *   K one of "added", "modified", "deleted", "renamed"; a renamed page also
 *   has "from":OLD. Recorded renames are paired, and git's own rename
 *   detection pairs the others it finds similar enough. Merges list no
 *   pages. Only commits that touch the pages directory are listed.
 * Every side of a merge is walked: an edit made on either side is listed,
 * even where the merge kept the other side's text. A page's history lists a
 * merge only where both sides had changed the page; the whole wiki's lists
 * each merge that touches the pages directory. (A page history whose
 * commits include a merge costs a walk of all of them before the first
 * entry; one without merges does not.)
 *
 * Fails with "Invalid title", "Invalid cursor" (not made by this function
 * for this query), "Invalid author filter", "Invalid date: D", "Page not
 * found: TITLE" (a first page of a title that no commit ever had; with
 * filters that leave nothing of an existing page the entries are empty), or
 * git's failure (a cursor whose commit is gone among them).
 */
WIKIDB_API const char *wikidb_history_page_json(wikidb_handle *handle, const char *title,
                                                const char *cursor, int limit,
                                                const char *author, const char *since,
                                                const char *until, int flags);

/**
 * Recent changes, paged: wikidb_history_page_json for the whole wiki with
 * the same entries, cursor and messages, filtered by author and since, in
 * its own slot. Its cursors and the history's are not interchangeable.
 */
WIKIDB_API const char *wikidb_recent_page_json(wikidb_handle *handle, const char *cursor,
                                               int limit, const char *author, const char *since);

/**
 * Full-text search of the pages in the work tree (the tracked page files):
 *   {"hits":[{"page":P,"line":N,"column":C,"text":T},...],"truncated":B}
 * N the line number (from 1), C the byte column (from 1) of the first match
 * on that line, T the line without its line end, cut to 500 bytes at a
 * character boundary. Hits come page by page in git's path order, lines in
 * order. B is true when more hits exist than were returned.
 *
 * query: words separated by white space (at most 32), each a literal text
 *        unless WIKIDB_SEARCH_REGEX. A page matches when it holds every word
 *        somewhere, in any order and on any lines; its hits are the lines
 *        holding any of them. Letter case is ignored for ASCII, Latin-1,
 *        Latin Extended-A and Additional, Greek (with final sigma), Cyrillic
 *        and Armenian (folded by the library, the same on every system);
 *        other scripts match exactly. No word ever reaches git as an option.
 * limit: most hits returned; 0 or negative means 100, at most 10000.
 * flags: WIKIDB_SEARCH_WORDS: a match must not touch a letter, digit or '_'
 *        on either side (ASCII letters and digits; any byte above 0x7F
 *        counts as a letter for titles, not for page text, as git does).
 *        WIKIDB_SEARCH_TITLES: page titles holding every word come first,
 *        with "line" 0, "column" the byte position of the first word in the
 *        folded title (from 1), and the title as "text".
 *        WIKIDB_SEARCH_REGEX: words are POSIX extended regular expressions,
 *        matched by git in the C.UTF-8 locale (letter case beyond ASCII as
 *        that locale has it, where it exists).
 *        WIKIDB_SEARCH_CASE: case-sensitive.
 *
 * Fails with "Empty search query", "Too many search words (at most 32)", or
 * git's failure (an invalid regular expression among them).
 */
WIKIDB_API const char *wikidb_search_json(wikidb_handle *handle, const char *query, int limit,
                                          int flags);

/**
 * Pages that some commit removed and that HEAD does not hold, most recently
 * removed first:
 *   [{"page":P,"deleted_in":H,"restore_from":R,"author":A,"date":D,
 *     "summary":S},...]
 * H the commit that last removed the page, R its first parent, where the
 * page had its last text: wikidb_rollback(handle, P, R, author) brings it
 * back. A page moved away by a recorded rename also has "renamed_to":NEW.
 * An empty wiki gives []. Walks the whole history; fails only with git's
 * failure or "Out of memory".
 */
WIKIDB_API const char *wikidb_deleted_pages_json(wikidb_handle *handle);

/**
 * Who last changed each line of a page, as of a revision:
 *   [{"line":N,"hash":H,"author":A,"email":E,"date":D,"timestamp":T,
 *     "summary":S,"page":P,"text":X},...]
 * one element per line, N from 1; D in the "git log --date=iso" form; P the
 * title the page had in commit H; X the line without its line feed. The
 * history walks across renames git detects by itself (the text mostly
 * unchanged), and across recorded renames (see wikidb_history_page_json)
 * also when the renaming commit changed the text: lines the rename left
 * alone are traced under the old title from the commit before it.
 *
 * revision: NULL for HEAD, else a revision git accepts (not beginning
 *           with '-', no line breaks).
 *
 * Fails with "Invalid parameters to wikidb_blame_json", "Unknown revision:
 * REV", "Page not found: TITLE" (an empty wiki), or git's failure (the page
 * absent at that revision among them, in git's words).
 */
WIKIDB_API const char *wikidb_blame_json(wikidb_handle *handle, const char *title,
                                         const char *revision);

/* ----------------------------------------------------------------- sync */

/*
 * Sync: a wiki meeting other clones of itself at a remote git repository
 * (a URL git reaches, or the name of a remote of the repository's own git
 * configuration).
 *
 * How a sync works, and what it promises:
 *
 *  - The remote's branch is read with "ls-remote" and fetched, when its tip
 *    is new here, into the private ref refs/wikidb/fetch/NAME (never the
 *    user's remote-tracking refs, no FETCH_HEAD). Integration then runs
 *    under the writer lock, without a merge or rebase in the work tree:
 *      - the remote behind or equal: nothing to integrate;
 *      - the remote ahead only: the branch is moved to the remote's tip by a
 *        compare-and-swap ("fast_forward");
 *      - both moved: "git merge-tree --write-tree" merges the two in
 *        objects; a clean result is committed with both tips as parents
 *        (every commit of both sides keeps its author; the merge itself is
 *        the repository's identity, message "Sync with NAME/BRANCH") and
 *        published by a compare-and-swap ("merged").
 *    After a move exactly the changed files and their index entries are
 *    brought to the new commit (a symbolic link or submodule of someone's
 *    commit gets its index entry only: no link is ever written to disk), journalled as the write API's commits are,
 *    so a sync killed at any point leaves the old or the new commit and the
 *    next writer brings the pages in line. Then the result is pushed (never
 *    forced). A push refused because the remote moved meanwhile, or a branch
 *    that moved during integration, starts the sync again, at most 8 rounds
 *    ("The remote kept moving during the sync"). Sync is idempotent: after
 *    any failure (remote down, network cut, process killed) it is simply
 *    called again.
 *  - A conflict (both sides changed a page in overlapping ways, or one
 *    changed and the other deleted it) changes nothing here: no merge
 *    state, no conflict marker in any page file. The report lists each such
 *    page, and a record in .git (wikidb-sync-NAME-conflicts) remembers it.
 *    The host resolves a page with wikidb_sync_resolve (a conditional save
 *    of the resolved text on top of the reported "ours" revision) and syncs
 *    again: a resolved page whose remote side has not changed since the
 *    report is taken as this wiki holds it (the resolution, or a later save
 *    on top of it). A page the host merely saved again, or whose remote side
 *    changed again, is reported again: no conflict is settled for one side
 *    without the host saying so.
 *  - The remote's URL is never taken for an option: a URL beginning with
 *    '-' or holding control bytes is refused, and git receives it after
 *    "--end-of-options". Transports through a remote helper ("ext::CMD",
 *    "fd::N", any "X::ADDRESS") are refused unless flags hold
 *    WIKIDB_SYNC_ALLOW_COMMANDS; the gits of a sync run with protocol.allow
 *    "never" except file, git, http, https and ssh (and ext only with that
 *    flag), so a URL rewritten by the user's "insteadOf" cannot reach one
 *    either; settings the host's environment passes to every git
 *    (GIT_CONFIG_PARAMETERS, as "git -c" sets) are not given to these gits,
 *    since they could reopen one. They run with GIT_TERMINAL_PROMPT=0 and no
 *    askpass program, so
 *    nothing waits for a password, and give up an http transfer slower than
 *    1 KB/s for 60 s. ssh runs as the user's git runs it: host keys are
 *    checked as the user's settings say. All of this is set in the
 *    environment of those gits only, never in the process's.
 *  - The report, in the handle's sync slot (wikidb_sync_report):
 *      {"state":S,"ahead":N,"behind":M,"rewritten":B,
 *       "pages_changed":[P,...],"conflicts":[C,...]}
 *    S one of "up_to_date" (nothing to integrate or push; also a pull-only
 *    sync with local commits left unpushed), "pushed" (only local commits,
 *    now pushed), "fast_forward", "merged", "conflict". N and M the commits
 *    only here and only at the remote when the sync began its last round.
 *    B true when the remote's branch no longer contains the tip the last
 *    sync saw (it was force-pushed, or deleted and is pushed again): its
 *    history is then merged like any
 *    other, so nothing of this wiki is lost, and the host is told. P the
 *    pages (names as wikidb_list_pages_json gives them) this sync changed
 *    here. Each C: {"page":T,"path":R,"base":X,"ours":O,"theirs":H,
 *    "base_text":..,"ours_text":..,"theirs_text":..,"merged_text":..} with
 *    T the page name (the repository path R for a file that is not a page),
 *    X, O, H the page's revisions at the common ancestor, here and at the
 *    remote ("" where the page is absent), the three texts (null where
 *    absent) and git's three-way merge with markers "<<<<<<< ours",
 *    "=======", ">>>>>>> theirs" (null unless both sides have the page).
 */

/** Flags of wikidb_sync. */
#define WIKIDB_SYNC_PULL_ONLY 1        /* integrate, never push */
#define WIKIDB_SYNC_PUSH_ONLY 2        /* push; fail when the remote has news */
#define WIKIDB_SYNC_ALLOW_UNRELATED 4  /* merge a remote history without a common commit */
#define WIKIDB_SYNC_ALLOW_COMMANDS 8   /* allow transports that run commands (ext::) */

/**
 * Stores a remote for the wiki in its repository's configuration
 * (wikidb-remote.NAME.url and .branch).
 *
 * name:   letters, digits, '.', '_', '-', not starting with '-' or '.', at
 *         most 64 bytes.
 * url:    a URL or path git reaches, or the name of a remote of the
 *         repository's git configuration (its URL is then read at each
 *         sync); not beginning with '-', no control bytes, under 1024 bytes.
 * branch: the remote's branch; NULL or "" for the branch HEAD names here.
 *
 * Returns 0, or -1 with "Invalid handle", "Invalid remote name", "Invalid
 * remote URL: URL", "Invalid remote branch: BRANCH", or the git runner's
 * message.
 */
WIKIDB_API int wikidb_remote_set(wikidb_handle *handle, const char *name, const char *url,
                                 const char *branch);

/**
 * Adds a git setting for the network gits of this handle's syncs, e.g.
 * "http.extraHeader" with a token, or "http.sslCAInfo": credentials and
 * transport options stay per handle, never in the process's environment.
 * Settings of "protocol." are refused (the flags decide them); a key given
 * again adds another value, as git's multi-valued settings do.
 *
 * Returns 0, or -1 with "Invalid handle", "Invalid setting" (a key not of
 * the form SECTION.NAME, beginning with '-', holding a control byte or
 * '=', a "protocol." key in any letter case, or a NULL value), or "Memory
 * allocation failed".
 */
WIKIDB_API int wikidb_sync_config(wikidb_handle *handle, const char *key, const char *value);

/**
 * Syncs the wiki with a remote stored by wikidb_remote_set (or a remote of
 * the repository's git configuration by that name).
 *
 * remote: the remote's name; NULL or "" for "origin".
 * flags:  0 or WIKIDB_SYNC_* bits; others are refused ("Invalid flags"), as
 *         are PULL_ONLY and PUSH_ONLY together.
 *
 * Returns 0 when the sync completed (the report's state says how),
 * WIKIDB_CONFLICT when pages conflict (state "conflict"; nothing changed
 * here, the report lists them), or -1 on failure: "Invalid handle",
 * "Invalid flags", "Unknown remote: NAME", "Invalid remote URL: URL",
 * "Invalid remote branch: BRANCH", "Remote URL names a transport that may
 * run commands: URL", "The remote's history is unrelated to the wiki's: URL
 * BRANCH", "The remote has changes the wiki lacks: sync without push-only
 * first", "The remote kept moving during the sync", "Remote branch vanished
 * during the fetch: BRANCH", "The remote's commit holds a path git refuses:
 * PATH" (a crafted commit naming ".git", ".." or another spelling of them;
 * nothing is taken), "Failed to write the conflict record: PATH",
 * "Unexpected output from git ...", "Memory allocation failed", the writer
 * lock's and the write API's refusals and busy messages, or the git
 * runner's message (the remote unreachable, a push refused by the server's
 * hooks). After -1 the report slot is empty; nothing here is half-applied.
 */
WIKIDB_API int wikidb_sync(wikidb_handle *handle, const char *remote, int flags);

/**
 * Resolves a page a sync reported in conflict with remote (NULL or "" for
 * "origin"): saves content as wikidb_save_page_if does, expecting the "ours"
 * revision of the report, and records the save as the page's resolution for
 * the next wikidb_sync. title, content, author and message as for
 * wikidb_save_page.
 *
 * Returns 0 (resolved; the next sync merges), WIKIDB_CONFLICT (the page
 * changed here since the report: nothing written, wikidb_conflict_json
 * tells how; resolve that text, or sync again for a fresh report), or -1:
 * "Invalid handle", "Invalid title", "Unknown remote: NAME", "No sync
 * conflict recorded for page: TITLE", "Failed to write the conflict record:
 * PATH" (the save stands, the page is reported again at the next sync), or
 * a message of wikidb_save_page_if.
 */
WIKIDB_API int wikidb_sync_resolve(wikidb_handle *handle, const char *remote, const char *title,
                                   const char *content, const char *author, const char *message);

/**
 * The report of the last wikidb_sync on the handle (see above), owned by the
 * handle and valid until its next sync; NULL when that sync failed or none
 * ran, or for a NULL handle ("Invalid handle").
 */
WIKIDB_API const char *wikidb_sync_report(wikidb_handle *handle);

/**
 * wikidb_sync, returning its report: the JSON on success and on conflict
 * (state "conflict"), NULL on failure with the message set. A host that
 * needs the return code calls wikidb_sync and wikidb_sync_report instead.
 */
WIKIDB_API const char *wikidb_sync_json(wikidb_handle *handle, const char *remote, int flags);

#ifdef __cplusplus
}
#endif

#endif /* QUENLOW_WIKIDB_H */
