#!/usr/bin/env bash
# Installs Japan Post's national postal-code file KEN_ALL.CSV into a program folder.
#
# usage: scripts/install-ken-all.sh [--from FILE] [--download|--no-download] [PROGRAM_DIR]
#   PROGRAM_DIR    default: build/default/bin
#   --from FILE    KEN_ALL.CSV or ken_all.zip to install (also: YS_KEN_ALL=FILE)
#   --download     fetch Japan Post's current file even when a copy is installed
#   --no-download  never try the network
#
# Sources, first found wins: the named file; resources/program/KEN_ALL.CSV; ken_all.zip in the
# shared data folder beside the repository (../shared/data); Japan Post's download. With none
# of them an empty file is installed (the program starts, but the address lookup finds nothing)
# and this script says so. A real file already installed is never replaced by an empty one.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
from=${YS_KEN_ALL:-}
download=0
dest=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --from) from=${2:?--from needs a file}; shift 2 ;;
    --download) download=1; shift ;;
    --no-download) download=-1; shift ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) dest=$1; shift ;;
  esac
done
dest=${dest:-$repo/build/default/bin}
url="https://www.post.japanpost.jp/zipcode/dl/kogaki/zip/ken_all.zip"
target="$dest/KEN_ALL.CSV"
say() { echo "install-ken-all: $*" >&2; }

mkdir -p "$dest"
tmp=$(mktemp "$dest/.KEN_ALL.CSV.XXXXXX")
trap 'rm -f "$tmp" "$tmp.zip"' EXIT

# Puts the CSV of $1 (a CSV or a zip holding KEN_ALL.CSV) into $tmp; fails on anything else.
extract() {
  local src=$1
  if [[ $(head -c 2 "$src" 2>/dev/null) == "PK" ]]; then
    unzip -p -C "$src" KEN_ALL.CSV >"$tmp" 2>/dev/null || return 1
  else
    cp "$src" "$tmp" || return 1
  fi
  # The national file: non-empty, its first row starts with a municipality code.
  [[ -s "$tmp" ]] && head -c 6 "$tmp" | grep -Eq '^[0-9]{5},'
}

# Moves $tmp over the target unless the same file is installed already.
install_tmp() {
  if [[ -f "$target" ]] && cmp -s "$tmp" "$target"; then
    say "$target is up to date ($1)"
    return 0
  fi
  chmod 644 "$tmp"
  mv -f "$tmp" "$target"
  say "installed $target from $1 ($(wc -l <"$target") rows)"
}

if [[ -n "$from" ]]; then
  [[ -f "$from" ]] || { say "$from: no such file"; exit 1; }
  extract "$from" || { say "$from: not Japan Post's KEN_ALL.CSV or a zip holding it"; exit 1; }
  install_tmp "$from"
  exit 0
fi

candidates=("$repo/resources/program/KEN_ALL.CSV" "$repo/../shared/data/ken_all.zip")
# A git worktree: the shared folder lies beside the main working tree.
common=$(git -C "$repo" rev-parse --path-format=absolute --git-common-dir 2>/dev/null || true)
[[ -n "$common" ]] && candidates+=("$(dirname "$common")/../shared/data/ken_all.zip")
if [[ $download -le 0 ]]; then
  for c in "${candidates[@]}"; do
    if [[ -f "$c" ]] && extract "$c"; then
      install_tmp "$(realpath "$c")"
      exit 0
    fi
  done
  if [[ -s "$target" ]]; then
    say "$target is installed; no newer source found (--download fetches the current file)"
    exit 0
  fi
fi

if [[ $download -ge 0 ]] && command -v curl >/dev/null 2>&1 &&
   curl -fsSL --connect-timeout 5 --max-time 120 -o "$tmp.zip" "$url" 2>/dev/null &&
   extract "$tmp.zip"; then
  install_tmp "$url"
  exit 0
fi
[[ $download -eq 1 ]] && say "could not download $url"

if [[ -s "$target" ]]; then
  say "keeping the installed $target"
  exit 0
fi
: >"$target"
say "KEN_ALL.CSV not found: installed an EMPTY $target."
say "The address lookup (〒で入力) finds nothing until the real file is installed:"
say "  scripts/install-ken-all.sh --from /path/to/ken_all.zip $dest"
say "(or put ken_all.zip in ../shared/data, or run it with --download when online)"
