# What the end-to-end tests of the btutil binary share (sourced, with $btutil
# set): a scratch folder $work removed at exit, the last run's exit code and
# output, and counted checks that show the last run when they fail.

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export UTILS_DEBUG_OUTPUT=$work/debug.log

passed=0
failed=0
code=0
out=
err=

# run ARGS...: runs btutil (bounded) and keeps its exit code, standard output and error.
run() {
  timeout 60 "$btutil" "$@" >"$work/stdout" 2>"$work/stderr"
  code=$?
  out=$(tr -d '\000' <"$work/stdout")  # the bytes of -0 output are checked from the file
  err=$(cat "$work/stderr")
}

# check DESCRIPTION COMMAND...: counts the check, shows the last run on failure.
check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL: %s\n  exit code: %s\n  stdout: %s\n  stderr: %s\n' "$what" "$code" "$out" "$err"
  fi
}
exits() { [ "$code" -eq "$1" ]; }
has() { [[ $1 == *"$2"* ]]; }
is() { [ "$1" = "$2" ]; }
# answers CODE FRAGMENT: that exit code, the fragment on stdout.
answers() { [ "$code" -eq "$1" ] && [[ $out == *"$2"* ]]; }
# fails CODE FRAGMENT: that exit code, the fragment on stderr.
fails() { [ "$code" -eq "$1" ] && [[ $err == *"$2"* ]]; }
# A usage error: exit code 2, "ERROR: ..." with the fragment on stderr, nothing on stdout.
refused() { [ "$code" -eq 2 ] && [ -z "$out" ] && [[ $err == "ERROR: "*"$1"* ]]; }
# regrefused FRAGMENT: the same from btutil reg, which exits 1 for every failure.
regrefused() { [ "$code" -eq 1 ] && [ -z "$out" ] && [[ $err == "ERROR: "*"$1"* ]]; }

# finish NAME: the summary line, and the script's exit status.
finish() {
  echo "$1: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
