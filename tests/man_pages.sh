#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks that `man` finds the
# three tools' pages there and that each page shows every option the tool's
# --help lists.
#   man_pages.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
export MANPATH="$work/prefix/share/man" MANWIDTH=100

status=0
for tool in morvex morvex-sample morvex-eval; do
  case $tool in
    morvex-eval) help=$("$build/man/bin/morvex-eval" --help) ;;
    *) help=$("$build/$tool" --help) ;;
  esac
  page=$(man -w "$tool")
  [ "$page" = "$MANPATH/man1/$tool.1" ] || { echo "man $tool finds $page"; status=1; }
  shown=$(man -P cat "$tool" 2>/dev/null | col -b)
  for option in $(grep -o -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u); do
    grep -q -- "$option" <<<"$shown" || { echo "man $tool lacks $option"; status=1; }
  done
  echo "$tool: $(grep -o -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u | wc -l) options in its page"
done
exit $status
