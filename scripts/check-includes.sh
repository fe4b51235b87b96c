#!/usr/bin/env bash
# Checks that the folders keep to their places in the stack, reading the project's own includes
# ("..." form): nothing outside the window's folder (app/ and its tests, tests/app/) and the
# benchmarks includes from app/; the HTTP client (net/) includes nothing from the widgets, the
# look, the translation table, the start-up check or the pages, and its tests likewise nothing
# above it; base/ includes only base/. Prints each breach; exits 1 on any, 0 when none.
# Usage: scripts/check-includes.sh [ROOT]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

# folder (as a path prefix) | include prefixes it must not use; "*" is every file outside app/,
# tests/app/ and bench/ (the benchmarks measure the whole program, the window's own steps too).
rules=(
  "base/|app/ locale/ widgets/ theme/ net/ update/ clean/ startup/ bundle/ tests/"
  "net/|app/ locale/ widgets/ theme/ update/ clean/ startup/ bundle/ tests/"
  "tests/net/|app/ locale/ widgets/ theme/ update/"
  "*|app/"
)

# The tracked sources; outside a git checkout (a source tarball), every source under the root.
list_sources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z -- '*.h' '*.hpp' '*.cpp' '*.c' '*.rc'
  else
    find . -path ./build -prune -o -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.c' \
      -o -name '*.rc' \) -printf '%P\0'
  fi
}

# Every quoted include as "file:line:text", read in one pass; then each checked against the rules.
breaches=$(
  list_sources | xargs -0 -r grep -nHE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' |
    while IFS= read -r hit; do
      file=${hit%%:*}
      included=${hit#*\"}
      for rule in "${rules[@]}"; do
        folder=${rule%%|*}
        if [ "$folder" = "*" ]; then
          case "$file" in app/* | tests/app/* | bench/*) continue ;; esac
          folder=${file%/*}/
        else
          case "$file" in "$folder"*) ;; *) continue ;; esac
        fi
        for prefix in ${rule#*|}; do
          case "$included" in "$prefix"*) echo "$hit   ($folder must not include $prefix)" ;; esac
        done
      done
    done
)
if [ -n "$breaches" ]; then
  printf '%s\n' "$breaches" | sort -u
  exit 1
fi
echo "include rules: every folder keeps to its place"
