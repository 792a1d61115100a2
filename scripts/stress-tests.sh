#!/bin/sh
# Runs the timing-sensitive test programs over and over, several copies at once
# with a busy loop on every core beside them, and reports every failure. A test
# that fails now and then under load shows up here long before it shows up in CI.
#
#   scripts/stress-tests.sh [-n RUNS] [-j COPIES] [-t SECONDS] [-o FOLDER] BUILD [PROGRAM...]
#
# BUILD is a build folder (build, build-asan, build-tsan ...). Each program
# (default: the notification unit tests, the notification service on BlueZ and
# vrlbusd, and the vrlbusd daemon tests) runs RUNS times (default 1000), COPIES
# at a time (default 4). With -t, no new run of a program starts once it has
# used SECONDS of wall time, so a short check fits a fixed time. The output of
# every failed run is kept in FOLDER (default: a new temporary folder). Exit
# code 77 of a test program (a needed service missing) counts as skipped.
# Exits 1 when any run failed or a program is missing, else 0.
set -eu

runs=1000
copies=4
seconds=0
keep=""
usage() {
  echo "usage: $0 [-n RUNS] [-j COPIES] [-t SECONDS] [-o FOLDER] BUILD [PROGRAM...]" >&2
  exit 2
}
while getopts n:j:t:o: option; do
  case $option in
    n) runs=$OPTARG ;;
    j) copies=$OPTARG ;;
    t) seconds=$OPTARG ;;
    o) keep=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || usage
for number in "$runs" "$copies" "$seconds"; do
  case $number in '' | *[!0-9]*) usage ;; esac
done
[ "$runs" -ge 1 ] && [ "$copies" -ge 1 ] || usage
build=$(cd "$1" && pwd)
shift
if [ $# -eq 0 ]; then
  set -- unit_notification integration_notification integration_vrlbusd
fi
if [ -z "$keep" ]; then
  keep=$(mktemp -d "${TMPDIR:-/tmp}/stress-tests.XXXXXX")
fi
mkdir -p "$keep"

# One busy loop per core, ended on every way out.
hogs=""
stop_hogs() {
  for pid in $hogs; do kill "$pid" 2>/dev/null || true; done
  hogs=""
}
trap stop_hogs EXIT
trap 'exit 130' INT TERM
cores=$(nproc 2>/dev/null || echo 2)
i=0
while [ $i -lt "$cores" ]; do
  sh -c 'while :; do :; done' &
  hogs="$hogs $!"
  i=$((i + 1))
done

# copy PROGRAM NAME INDEX FIRST LAST DEADLINE: runs FIRST..LAST of one copy and
# writes one line per run to its tally: "pass", "skip" or "fail".
copy() {
  program=$1 name=$2 index=$3 run=$4 last=$5 deadline=$6
  tally="$keep/$name.$index.tally"
  : >"$tally"
  while [ "$run" -le "$last" ]; do
    if [ "$deadline" -gt 0 ] && [ "$(date +%s)" -ge "$deadline" ]; then break; fi
    log="$keep/$name.run$run.log"
    status=0
    (cd "$keep" && exec "$program") >"$log" 2>&1 </dev/null || status=$?
    case $status in
      0) echo pass >>"$tally"; rm -f "$log" ;;
      77) echo skip >>"$tally"; rm -f "$log" ;;
      *) echo fail >>"$tally"; echo "exit status $status" >>"$log" ;;
    esac
    run=$((run + 1))
  done
}

failed=0
printf '%-28s %6s %6s %6s %6s\n' program runs failed skipped seconds
for name in "$@"; do
  program="$build/tests/$name"
  if [ ! -x "$program" ]; then
    echo "$name: no such test program in $build/tests" >&2
    failed=1
    continue
  fi
  started=$(date +%s)
  deadline=0
  [ "$seconds" -gt 0 ] && deadline=$((started + seconds))
  share=$(((runs + copies - 1) / copies))
  pids=""
  index=0
  first=1
  while [ "$first" -le "$runs" ]; do
    last=$((first + share - 1))
    [ "$last" -le "$runs" ] || last=$runs
    copy "$program" "$name" "$index" "$first" "$last" "$deadline" &
    pids="$pids $!"
    first=$((last + 1))
    index=$((index + 1))
  done
  for pid in $pids; do wait "$pid"; done
  passes=$(cat "$keep/$name".*.tally | grep -c '^pass$' || true)
  fails=$(cat "$keep/$name".*.tally | grep -c '^fail$' || true)
  skips=$(cat "$keep/$name".*.tally | grep -c '^skip$' || true)
  rm -f "$keep/$name".*.tally
  printf '%-28s %6d %6d %6d %6d\n' "$name" $((passes + fails + skips)) "$fails" "$skips" $(($(date +%s) - started))
  if [ "$fails" -gt 0 ]; then
    failed=1
    for log in "$keep/$name".run*.log; do
      echo "--- $log (last lines)"
      tail -n 25 "$log"
    done | head -n 200
  fi
done
stop_hogs

if [ "$failed" -ne 0 ]; then
  echo "stress tests FAILED; logs of the failed runs are in $keep" >&2
  exit 1
fi
rmdir "$keep" 2>/dev/null || true
echo "stress tests passed"
