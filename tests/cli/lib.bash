# Helpers for the black-box tests: run the built binaries as a user would
# and compare what they print, exactly.
set -u

ORVIMAGE=${ORVIMAGE:?ORVIMAGE names the orvimage binary}
failures=0
work=$(mktemp -d "${TMPDIR:-/tmp}/orvcli.XXXXXX")
trap 'rm -rf "$work"' EXIT

# run ARGS...: runs orvimage without a display; sets $out, $err, $status.
run() {
  local o="$work/out" e="$work/err"
  env -u DISPLAY "$ORVIMAGE" "$@" >"$o" 2>"$e" </dev/null
  status=$?
  out=$(cat "$o")
  err=$(cat "$e"; echo x)
  err=${err%x}
}

# run_in DIR ARGS...: as run, from the folder DIR.
run_in() {
  local dir=$1
  shift
  (cd "$dir" && run "$@" && declare -p out err status) >"$work/vars" 2>/dev/null
  # shellcheck disable=SC1090
  source "$work/vars"
}

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# expect_status N DESCRIPTION
expect_status() {
  [ "$status" -eq "$1" ] || fail "$2: exit status $status, expected $1"
}

# expect_err TEXT DESCRIPTION: standard error must be exactly TEXT.
expect_err() {
  [ "$err" == "$1" ] || fail "$2: stderr was [$err], expected [$1]"
}

# expect_err_has TEXT DESCRIPTION
expect_err_has() {
  [[ "$err" == *"$1"* ]] || fail "$2: stderr [$err] lacks [$1]"
}

# expect_err_lacks TEXT DESCRIPTION
expect_err_lacks() {
  [[ "$err" != *"$1"* ]] || fail "$2: stderr [$err] has [$1]"
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}
