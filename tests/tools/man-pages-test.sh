#!/usr/bin/env bash
# Each man page is well-formed roff, and names every option its tool's --help names.
#   usage: man-pages-test.sh MAN_DIR TOOLS_DIR
set -uo pipefail
man_dir=$1
tools_dir=$2
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for page in "$man_dir"/tarvolen.1 "$man_dir"/tarvolen-run.1 "$man_dir"/tarvolen-plan.1 \
  "$man_dir"/tarvolen-cds.1 "$man_dir"/tarvolen-backup.1; do
  [ -f "$page" ] || { fail "$page is missing"; continue; }
  warnings=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
  [ -z "$warnings" ] || fail "$page: $warnings"
  name=$(basename "$page" .1)
  grep -q "^\.TH ${name^^} 1 " "$page" || fail "$page: its .TH does not name ${name^^}(1)"
  grep -q '^\.SH NAME' "$page" && grep -q '^\.SH SYNOPSIS' "$page" ||
    fail "$page: no NAME or SYNOPSIS section"
done

for tool in tarvolen-run tarvolen-plan tarvolen-cds tarvolen-backup; do
  page="$man_dir/$tool.1"
  help=$("$tools_dir/$tool" --help) || fail "$tool --help exited with $?"
  # The page's text as it reads, with roff's escaped hyphens as hyphens.
  text=$(sed 's/\\-/-/g' "$page")
  options=$(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u)
  [ -n "$options" ] || fail "$tool --help names no option"
  for option in $options; do
    grep -q -- "$option\b" <<<"$text" || fail "$page does not name $option"
  done
  grep -q '^\.SH EXIT STATUS' "$page" || fail "$page has no EXIT STATUS section"
done

[ "$failures" -eq 0 ] && echo "man pages: all well-formed and complete"
exit $((failures > 0))
