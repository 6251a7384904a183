#!/usr/bin/env bash
# Runs one transfer with the Windows dalimor-cli.exe under Wine and the same
# with the Linux dalimor-cli, each on its own demo installation made from the
# same seed, through folders whose names hold Czech letters and spaces:
# demo, companies, init, send --all --archive, info, receive --all, and
# receive --all --archive from the zip the send made into a second
# installation.  The Windows program gets Windows paths ("Z:\...").  Then
# every table of both trees is dumped (by the Linux program) and compared,
# as are the archives' entries, exit codes and the batch description.
# Values that come from the clock (the moment of the send) are left out of
# the comparison.
#
#   scripts/windows-transfer-check.sh WINDOWS_CLI.exe LINUX_CLI
#
# Expects WINEPREFIX (and WINEDEBUG, DISPLAY) set as scripts/build-windows.sh
# sets them.  KEEP_WORK=1 keeps the work folder (its path is mktemp's) for
# a look at what each program printed.
set -euo pipefail
windows_cli=$1
linux_cli=$2
seed=7

work=$(mktemp -d)
trap '[ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# run SIDE NAME ARGS...: runs the side's program, keeps its output and
# exit code in $work/SIDE.NAME.{out,rc}.
run() {
  local side=$1 name=$2
  shift 2
  local rc=0
  if [ "$side" = windows ]; then
    wine "$windows_cli" "$@" >"$work/$side.$name.out" 2>&1 </dev/null || rc=$?
  else
    "$linux_cli" "$@" >"$work/$side.$name.out" 2>&1 </dev/null || rc=$?
  fi
  echo "$rc" >"$work/$side.$name.rc"
}

native() {
  if [ "$1" = windows ]; then winepath -w "$2"; else echo "$2"; fi
}

for side in linux windows; do
  base="$work/$side"
  installation="$base/Účtárna Brno"
  transfer="$base/Přenos dávek"
  mkdir -p "$transfer"
  i=$(native "$side" "$installation")
  t=$(native "$side" "$transfer")
  run "$side" demo demo "$i" --seed "$seed"
  run "$side" companies companies --installation "$i"
  run "$side" init init --installation "$i" --company "Pobočka Brno" --folder "$t" --yes
  run "$side" send send --installation "$i" --company "Pobočka Brno" --folder "$t" --all \
    --archive --message "Zpráva pro centrálu: účty za září" --yes
  run "$side" info info --folder "$t"
  run "$side" receive receive --installation "$i" --company "Centrála Praha" --folder "$t" \
    --all --yes
  # The archive the send made, received into a second installation from
  # the same seed: the zip is read and unpacked by each side's program.
  archive_installation="$base/Účtárna Praha"
  a=$(native "$side" "$archive_installation")
  run "$side" demo-archive demo "$a" --seed "$seed"
  run "$side" receive-archive receive --installation "$a" --company "Centrála Praha" \
    --archive "$(native "$side" "$transfer/Přenos dávek.zip")" --all --yes
  # A refusal ends with the same exit code on both.
  run "$side" missing send --installation "$i" --company "Pobočka Brno" \
    --folder "$(native "$side" "$base/Není tu")" --all --yes
done

for step in demo companies init send info receive demo-archive receive-archive missing; do
  linux_rc=$(cat "$work/linux.$step.rc")
  windows_rc=$(cat "$work/windows.$step.rc")
  if [ "$linux_rc" != "$windows_rc" ]; then
    fail "$step: exit code $windows_rc on Windows, $linux_rc on Linux"
    sed 's/^/  windows: /' "$work/windows.$step.out" | tail -n 5 >&2
  elif [ "$step" != missing ] && [ "$linux_rc" != 0 ]; then
    fail "$step failed on both: $(tail -n 1 "$work/linux.$step.out")"
  fi
done
if ! diff <(tr -d '\r' <"$work/linux.companies.out") <(tr -d '\r' <"$work/windows.companies.out") >/dev/null; then
  fail "companies lists differ"
fi
grep -q "Pobočka Brno" "$work/windows.companies.out" || fail "companies: Czech name garbled"

# The batch description without the moment of the send.
for file in info.out; do
  if ! diff <(grep -v '^DateTime=' "$work/linux.$file" | tr -d '\r') \
            <(grep -v '^DateTime=' "$work/windows.$file" | tr -d '\r') >"$work/diff" 2>&1; then
    fail "info differs:"; cat "$work/diff" >&2
  fi
done

# The archives: named after the transfer folder, complete, the same entries.
linux_zip="$work/linux/Přenos dávek/Přenos dávek.zip"
windows_zip="$work/windows/Přenos dávek/Přenos dávek.zip"
if [ ! -f "$windows_zip" ]; then
  fail "no archive named after the transfer folder on Windows"
else
  if command -v unzip >/dev/null; then
    unzip -tq "$windows_zip" >/dev/null || fail "the Windows archive does not test clean"
    if ! diff <(unzip -Z1 "$linux_zip" | sort) <(unzip -Z1 "$windows_zip" | sort) >"$work/diff"; then
      fail "archive entries differ:"; cat "$work/diff" >&2
    fi
  fi
fi

# Every table of both trees, dumped the same way.  Moments of today (the
# time a record was sent or received) come from the clock and are masked;
# the demo data's own moments lie in the past and compare as they are.
today=$(date +%d.%m.%Y)
yesterday=$(date -d yesterday +%d.%m.%Y)
mask() {
  sed -E "s/($today|$yesterday) [0-9]{1,2}:[0-9]{2}:[0-9]{2}(\.[0-9]+)?/<now>/g"
}
tables=0
while IFS= read -r -d '' table; do
  relative=${table#"$work/linux/"}
  other="$work/windows/$relative"
  if [ ! -f "$other" ]; then
    fail "missing on Windows: $relative"
    continue
  fi
  "$linux_cli" dump "$table" 2>&1 | mask >"$work/a.csv" || fail "cannot dump $relative (Linux)"
  "$linux_cli" dump "$other" 2>&1 | mask >"$work/b.csv" || fail "cannot dump $relative (Windows)"
  if ! cmp -s "$work/a.csv" "$work/b.csv"; then
    fail "table differs: $relative"
    diff "$work/a.csv" "$work/b.csv" | head -n 6 >&2 || true
  fi
  tables=$((tables + 1))
done < <(find "$work/linux" -iname '*.db' -print0 | sort -z)
windows_tables=$(find "$work/windows" -iname '*.db' | wc -l)
[ "$windows_tables" = "$tables" ] || fail "$windows_tables tables on Windows, $tables on Linux"

if [ "$failures" -gt 0 ]; then
  echo "Windows transfer check: $failures failure(s)" >&2
  exit 1
fi
echo "Windows transfer check: $tables tables the same on Windows and Linux."
