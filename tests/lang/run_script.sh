#!/usr/bin/env bash
# Runs one script test through zavrun and compares what it did with what the
# test expects.
#
#   run_script.sh ZAVRUN TEST
#
# TEST is tests/lang/NAME.zav (run as `zavrun NAME.zav`) or NAME.cmd (its
# text, final line ends removed, run as `zavrun -e TEXT`). Beside it:
#   NAME.out   expected stdout (UTF-8, LF); required; the staged program
#              folder's path is written "{system}/"
#   NAME.exit  expected exit status; 0 when missing
#   NAME.err   expected stderr; compared only when present
#   NAME.args  when present, zavrun's arguments instead, one per line (paths
#              relative to the test's folder), for the tests of bad
#              arguments and unreadable files
#   NAME.stdout when present, where stdout goes instead of being captured:
#              "full" (/dev/full) or "closed"; NAME.out is then empty
#   NAME.env   when present, VAR=value lines added to zavrun's environment
#              (empty lines skipped); "{build}" in a line stands for the build
#              folder, the parent of zavrun's folder (for example
#              LD_LIBRARY_PATH={build}/tests/fakeio)
# The run gets a scratch XDG_DATA_HOME and TMPDIR; it must leave nothing in
# either (zavrun never writes the user's folder and removes its own
# temporary folder). ZAVTA_SCRIPT_TIMEOUT (seconds, default 60) bounds it.
set -u

if [ $# -ne 2 ]; then
  echo "usage: $0 ZAVRUN TEST" >&2
  exit 2
fi
zavrun=$1
test=$2
if [ ! -x "$zavrun" ]; then
  echo "FAIL: no zavrun at $zavrun" >&2
  exit 1
fi
if [ ! -f "$test" ]; then
  echo "FAIL: no test $test" >&2
  exit 1
fi

dir=$(cd "$(dirname "$test")" && pwd)
file=$(basename "$test")
name=${file%.*}
kind=${file##*.}
base=$dir/$name

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zavta-lang-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/data" "$scratch/tmp"

if [ -f "$base.args" ]; then
  args=()
  while IFS= read -r line || [ -n "$line" ]; do
    case $line in
      -*|"") args+=("$line") ;;
      /*) args+=("$line") ;;
      *) args+=("$dir/$line") ;;
    esac
  done < "$base.args"
elif [ "$kind" = cmd ]; then
  args=(-e "$(cat "$base.cmd")")
else
  args=("$dir/$file")
fi

env_vars=()
if [ -f "$base.env" ]; then
  build=$(cd "$(dirname "$zavrun")/.." && pwd)
  while IFS= read -r line || [ -n "$line" ]; do
    [ -n "$line" ] && env_vars+=("${line//\{build\}/$build}")
  done < "$base.env"
fi

stdout_to=captured
if [ -f "$base.stdout" ]; then stdout_to=$(tr -d ' \r\n' < "$base.stdout"); fi
run_zavrun() {
  env XDG_DATA_HOME="$scratch/data" TMPDIR="$scratch/tmp" "${env_vars[@]}" \
    timeout --kill-after=10 "${ZAVTA_SCRIPT_TIMEOUT:-60}" "$zavrun" "${args[@]}"
}
# Started from the scratch folder, so that nothing depends on where ctest runs.
: > "$scratch/stdout"
case $stdout_to in
  full) (cd "$scratch" && run_zavrun > /dev/full 2> "$scratch/stderr") ;;
  closed) (cd "$scratch" && run_zavrun >&- 2> "$scratch/stderr") ;;
  *) (cd "$scratch" && run_zavrun > "$scratch/stdout" 2> "$scratch/stderr") ;;
esac
status=$?

# Library files run under their full path: the staged program folder is
# written as "{system}/" in the expected output.
system=$(cd "$(dirname "$zavrun")/../System" 2>/dev/null && pwd)
if [ -n "$system" ]; then
  for stream in stdout stderr; do
    sed -i "s|$system/|{system}/|g" "$scratch/$stream"
  done
fi

failed=0
expected_status=0
if [ -f "$base.exit" ]; then expected_status=$(tr -d ' \r\n' < "$base.exit"); fi
if [ "$status" != "$expected_status" ]; then
  echo "FAIL: exit status $status, expected $expected_status"
  failed=1
fi
if [ ! -f "$base.out" ]; then
  echo "FAIL: $name.out is missing"
  failed=1
elif ! diff -u --label "expected $name.out" --label "actual stdout" "$base.out" "$scratch/stdout"; then
  echo "FAIL: stdout differs"
  failed=1
fi
if [ -f "$base.err" ] && ! diff -u --label "expected $name.err" --label "actual stderr" "$base.err" "$scratch/stderr"; then
  echo "FAIL: stderr differs"
  failed=1
fi
if [ -n "$(ls -A "$scratch/data")" ] || [ -n "$(ls -A "$scratch/tmp")" ]; then
  echo "FAIL: files left behind:"
  (cd "$scratch" && find data tmp -mindepth 1)
  failed=1
fi
if [ $failed -ne 0 ]; then
  echo "--- stderr:"
  cat "$scratch/stderr"
  exit 1
fi
exit 0
