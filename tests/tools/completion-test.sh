#!/usr/bin/env bash
# The bash completions offer what each tool takes, word by word.
#   usage: completion-test.sh COMPLETION_DIR
set -uo pipefail
completion_dir=$1
for tool in tarvolen-run tarvolen-plan tarvolen-cds tarvolen-backup; do
  # shellcheck source=/dev/null
  source "$completion_dir/$tool" || { echo "FAIL: $tool does not load" >&2; exit 1; }
done

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder" || exit 1
printf '[anagrafe]\nDatabase = a.fdb\n; a comment\n[anagrafe_server]\nDatabase = h:/b.fdb\n' \
  >aliases.ini
export TARVOLEN_ALIASES=$folder/aliases.ini
touch fase-010.sql fase-020.sql vie.xml anagrafe-1.0.0.0-20260502-140307.fbk
mkdir backups bin

failures=0
# expect "WORDS ON THE LINE" "EXPECTED REPLIES": the last word is the one being completed.
expect() {
  local line=$1 expected=$2
  read -r -a COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  local function
  function=$(complete -p "${COMP_WORDS[0]}" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
  "$function" 2>/dev/null
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
  if [[ $got != "$expected" ]]; then
    echo "FAIL: '$line' completes to '$got', not '$expected'" >&2
    failures=$((failures + 1))
  fi
}

expect "tarvolen-run --al" "--alias"
expect "tarvolen-run --alias " "anagrafe anagrafe_server"
expect "tarvolen-run --alias anagrafe_s" "anagrafe_server"
expect "tarvolen-run --log v" "vie.xml"
expect "tarvolen-run --dry" "--dry-run"
expect "tarvolen-run --user " ""
expect "tarvolen-run --backup b" "backups bin"
expect "tarvolen-run --verify" "--verify-backup"
expect "tarvolen-run --no-b" "--no-backup"
expect "tarvolen-plan " "--help --version add history init list mark remove validate"
expect "tarvolen-plan hi" "history"
expect "tarvolen-plan history --" "--help --plan"
expect "tarvolen-plan va" "validate"
expect "tarvolen-plan add --sc" "--script"
expect "tarvolen-plan add --id 10 --version 1.1.0.0 --script fa" "fase-010.sql fase-020.sql"
expect "tarvolen-plan add --id " ""
expect "tarvolen-plan add --file v" "vie.xml"
expect "tarvolen-plan add --e" "--empty-table"
expect "tarvolen-plan list --" "--help --json --plan"
expect "tarvolen-plan mark 10 " "N S"
expect "tarvolen-plan validate --alias ana" "anagrafe anagrafe_server"
expect "tarvolen-plan validate --" "--alias --help --password-file --plan --user"
expect "tarvolen-cds " "--help --version check convert dump"
expect "tarvolen-cds check v" "vie.xml"
expect "tarvolen-cds dump v" "vie.xml"
expect "tarvolen-cds dump vie.xml " ""
expect "tarvolen-backup " "--help --version create list restore"
expect "tarvolen-backup create --alias ana" "anagrafe anagrafe_server"
expect "tarvolen-backup create --alias anagrafe b" "backups bin"
expect "tarvolen-backup create --v" "--verify"
expect "tarvolen-backup list " "backups bin"
expect "tarvolen-backup restore --y" "--yes"
expect "tarvolen-backup restore --alias anagrafe a" "anagrafe-1.0.0.0-20260502-140307.fbk"
expect "tarvolen-backup restore --plan f" "fase-010.sql fase-020.sql"

[ "$failures" -eq 0 ] && echo "completion: every case as expected"
exit $((failures > 0))
