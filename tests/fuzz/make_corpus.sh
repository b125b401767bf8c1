#!/usr/bin/env bash
# Regenerates the seed corpora under tests/fuzz/corpus/ from real git
# output: a scratch repository laid out as a wiki, with page names git must
# quote (quotes, backslashes, tabs, line feeds, UTF-8), several authors,
# renames and deletions. Each seed is what the library reads from git, in
# the input layout its harness expects (see the harness sources).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$here/corpus
repo=$(mktemp -d)
trap 'rm -rf "$repo"' EXIT

g() { git -C "$repo" "$@"; }
commit() {  # author, message
  GIT_AUTHOR_DATE="2026-03-0${n:-1} 10:0${n:-1}:00 +0100" GIT_COMMITTER_DATE="2026-03-01 10:00:00 +0000" \
    g -c user.name=wikidb -c user.email=wikidb@localhost commit -q --author "$1 <wiki@localhost>" -m "$2"
  n=$(( ${n:-1} + 1 ))
}

g init -q
g config core.quotepath false
g config core.autocrlf false
mkdir -p "$repo/pages/dir/sub" "$repo/meta"
printf 'Front page\n' >"$repo/pages/Home.wiki"
printf 'x\n' >"$repo/meta/notes.wiki"
g add -A && commit "Ann Author" "Create Home"
printf 'a\n' >"$repo/pages/dir/sub/Deep page.wiki"
printf 'q\n' >"$repo/pages/dq\"q.wiki"
printf 'b\n' >"$repo/pages/back\\slash.wiki"
printf 't\n' >"$repo/pages/tab	t.wiki"
printf 'n\n' >"$repo/pages/line
feed.wiki"
printf 'u\n' >"$repo/pages/Caf$(printf '\303\251') $(printf '\346\227\245\346\234\254').wiki"
printf 'txt\n' >"$repo/pages/readme.txt"
printf 'w\n' >"$repo/pages/.wiki"
g add -A && commit "Zoë Ünicode" "Add pages with \"quotes\", a back\\slash and a	tab"
# Every awkward name is present now: keep the listings for the seeds below.
snap=$(mktemp -d)
trap 'rm -rf "$repo" "$snap"' EXIT
g ls-files --cached --others --exclude-standard pages/ >"$snap/ls"
g -c core.quotepath=true ls-files --cached --others --exclude-standard pages/ >"$snap/ls-quotepath"
printf 'Front page, longer now\n' >"$repo/pages/Home.wiki"
printf 'more\n' >>"$repo/pages/dq\"q.wiki"
g add -A && commit "Ann Author" "Update Home"
g mv "pages/back\\slash.wiki" "pages/renamed.wiki"
commit "Bob" "Rename back\\slash"
g rm -q "pages/line
feed.wiki"
commit "Bob" "Delete line feed page"
printf 'again\n' >"$repo/pages/Home.wiki"
g add -A && commit "Ann Author" "Update Home"
printf 'untracked\n' >"$repo/pages/New page.wiki"

fields='%H%x1f%an%x1f%ad%x1f%s'
rm -rf "$out"
mkdir -p "$out"/{list,history,recent,batch_sizes,history_raw,graph_file,json_str,cquote,win_quote,log_z,cursor,blame,grep}

# Page list: the library's ls-files, with paths quoted both ways; -z too.
cp "$snap/ls" "$out/list/ls-files"
cp "$snap/ls-quotepath" "$out/list/ls-files-quotepath"
g ls-files --cached --others --exclude-standard pages/ >"$out/list/ls-files-later"
{ g ls-files --cached --others --exclude-standard pages/; printf '\0dir/'; } >"$out/list/ls-files-prefix"
g ls-files -z --cached --others --exclude-standard pages/ >"$out/list/ls-files-z"

# History: one page's and the whole wiki's.
g log --format=format:$fields --date=iso -- pages/Home.wiki >"$out/history/home"
g log --format=format:$fields --date=iso >"$out/history/wiki"

# Recent changes: as the library asks, and with renames detected.
g log -n50 --name-status --no-renames --format=commit:$fields --date=iso >"$out/recent/no-renames"
g log -n50 --name-status --format=commit:$fields --date=iso >"$out/recent/renames"
g -c core.quotepath=true log -n3 --name-status --no-renames --format=commit:$fields --date=iso \
  >"$out/recent/quotepath"

# Batched sizes: log, 0, path, 0, git's answers to the questions the library
# sends (HASH:PATH, each ended by a 0 byte).
batch() {  # seed, path
  local log
  log=$(g log --format=format:$fields --date=iso -- "$2")
  { printf '%s\0%s\0' "$log" "$2"
    printf '%s\n' "$log" | cut -d $'\x1f' -f 1 | while read -r h; do printf '%s:%s\0' "$h" "$2"; done |
      g cat-file --batch-check='%(objectsize)' --buffer -z
  } >"$out/batch_sizes/$1"
}
batch home pages/Home.wiki
batch dq 'pages/dq"q.wiki'
batch deleted "pages/line
feed.wiki"

# History read with each commit's diff: the path, 0, the log as the library
# asks it (a page, a deleted page), and one with renames detected.
raw() {  # seed, path
  { printf '%s\0' "$2"
    g log -z --raw --no-abbrev --no-renames --format=format:$fields --date=iso -- "$2"; } >"$out/history_raw/$1"
}
raw home pages/Home.wiki
raw deleted "pages/line
feed.wiki"
{ printf 'pages/renamed.wiki\0'; g log -z --raw --no-abbrev -M --format=format:$fields --date=iso; } \
  >"$out/history_raw/renames"

# Commit-graph files: a layer without any filter computed, then one with all.
g commit-graph write --reachable --changed-paths --split --max-new-filters=0
cp "$repo"/.git/objects/info/commit-graphs/graph-*.graph "$out/graph_file/no-filters"
g commit-graph write --reachable --changed-paths --split=replace
cp "$repo"/.git/objects/info/commit-graphs/graph-*.graph "$out/graph_file/all-filters"
chmod 644 "$out"/graph_file/*

# JSON strings: page texts, names and messages as git stored them.
g show -s --format=%B HEAD~4 >"$out/json_str/message"
g log --format=%an%x00%s >"$out/json_str/authors-and-subjects"
printf '= Caf\303\251 =\nUn caf\303\251 cr\303\250me, \346\227\245\346\234\254\350\252\236, \360\237\230\200.\r\n' >"$out/json_str/utf8-page"
printf 'tab\there "quote" back\\slash \001\037\177 caf\303\251 \360\237\230\200' >"$out/json_str/mixed"

# Quoted paths, one per seed, as git printed them.
i=0
cat "$snap/ls" "$snap/ls-quotepath" | grep '^"' | sort -u |
  while IFS= read -r q; do i=$((i + 1)); printf '%s' "$q" >"$out/cquote/quoted-$i"; done

# Argument lists as the library hands them to git, words split by 0 bytes;
# the first word is the wiki root.
printf '%s\0' 'C:\Users\Ann\My Wiki\' log "--format=format:$fields" --date=iso -- 'pages/Deep page.wiki' \
  >"$out/win_quote/log"
printf '%s\0' 'C:\wiki' commit -m 'Update "Home" \"quoted\"\\' --author 'Zoë <wiki@localhost>' \
  >"$out/win_quote/commit"
printf '%s\0' '\\server\share\wiki' add '' 'pages/tab	t.wiki' 'pages/back\\slash\\.wiki' 'x\"' \
  >"$out/win_quote/add"

# Paged reads: the NUL-separated log (with a recorded rename), cursors and
# dates, blame porcelain and a zero-context diff, grep -z output.
zfmt='--format=tformat:%x01%H%x00%P%x00%an%x00%ae%x00%ad%x00%at%x00%s%x00%B'
g mv pages/renamed.wiki pages/again.wiki
printf 'x\n' >"$repo/pages/again.wiki"
commit "Ann Author" "Rename renamed

Wikidb-Rename: \"renamed\" -> \"again\""
g log -z "$zfmt" --date=iso --name-status --find-renames -- pages/ >"$out/log_z/wiki"
g log -z "$zfmt" --date=iso -- pages/Home.wiki >"$out/log_z/home"
g log -z "$zfmt" --date=iso --name-status --no-renames --diff-filter=D -- pages/ >"$out/log_z/deleted"
head=$(g rev-parse HEAD)
printf 'p1.%s.0.50.0badf00d.%s.486f6d65' "$head" "$head" >"$out/cursor/page"
printf 'w1.%s.1.0.12345678.-' "$head" >"$out/cursor/wiki"
printf '2026-03-01T10:00:00+01:00' >"$out/cursor/date-zone"
printf '2024-02-29' >"$out/cursor/date-leap"
printf '@1767312000' >"$out/cursor/date-unix"
g blame --porcelain HEAD -- pages/Home.wiki >"$out/blame/home"
g blame --porcelain HEAD -- "pages/dq\"q.wiki" >"$out/blame/dq"
g diff -U0 HEAD~5:pages/Home.wiki HEAD:pages/Home.wiki >"$out/blame/diff"
g grep -z -n --column -I -i -e a -- pages/ >"$out/grep/lines" || true
g grep -z -l -I -e a -- pages/ >"$out/grep/files" || true
printf 'Caf\303\251 \316\243\317\202 [x]*.?' >"$out/grep/term"

du -sh "$out"/*
