#!/bin/bash
# The Linux half of the git shim (git_shim.c): runs the real git on the
# request in directory $1 and leaves its output and exit status there.
req=$1
echo $$ > "$req/pid.tmp" && mv "$req/pid.tmp" "$req/pid"

args=()
while IFS= read -r -d '' a; do args+=("$a"); done < "$req/args"

# git sees the GIT_* variables the library gave the shim, and no others:
# what the library filtered out must not come back from this side.
envs=()
while IFS= read -r -d '' e; do envs+=("$e"); done < "$req/env"
unset $(compgen -e | grep '^GIT_')
# The locale wine ran under (perhaps one made up for its code page) is not
# git's business; its messages are read in English.
export LC_ALL=C.UTF-8

if [ -e "$req/joined" ]; then
  env "${envs[@]}" git "${args[@]}" < "$req/stdin" > "$req/out" 2>&1
else
  env "${envs[@]}" git "${args[@]}" < "$req/stdin" > "$req/out" 2> "$req/err"
fi
echo $? > "$req/status.tmp"
mv "$req/status.tmp" "$req/status"
