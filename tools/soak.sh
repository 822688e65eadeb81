#!/usr/bin/env bash
# A soak of the library: frameyard-simhost serves steady realtime clients and every kind of
# abusive one from frameyard-stress for a given time. Fails when a steady client lost a frame
# or was cut off, when the host's open descriptors do not come back to what it had before the
# first client, when its resident memory grows more than 8 MiB after the warm-up, or when a
# sanitizer reported anything. Bounded: the host stops itself shortly after the run even if
# this script is killed, and only the host started here is signalled.
#
# usage: soak.sh [--build DIR] [--seconds S] [--steady N] [--abusive M] [--warmup S] [-- HOST ARGS]
#   --build    build tree with tools/frameyard-simhost and tools/frameyard-stress (build/default)
#   --seconds  how long the load runs (default 60; ten minutes by hand: --seconds 600)
#   --warmup   memory is measured from this point of the run on (default 60 s, or a third of
#              a shorter run)
#   HOST ARGS  more options for frameyard-simhost, e.g. --cameras 8 --blobs 200
set -u
build=build/default
seconds=60
steady=16
abusive=100
warmup=""
host_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --steady) steady=$2; shift 2 ;;
    --abusive) abusive=$2; shift 2 ;;
    --warmup) warmup=$2; shift 2 ;;
    --) shift; host_args=("$@"); break ;;
    *) echo "soak: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
[ -n "$warmup" ] || warmup=$(( seconds >= 180 ? 60 : seconds / 3 ))
simhost="$build/tools/frameyard-simhost"
stress="$build/tools/frameyard-stress"
for program in "$simhost" "$stress"; do
  [ -x "$program" ] || { echo "soak: $program is not built" >&2; exit 2; }
done

out=$(mktemp /tmp/frameyard-soak-XXXXXX)
err=$(mktemp /tmp/frameyard-soak-XXXXXX)
host_pid=""
cleanup() {
  if [ -n "$host_pid" ] && kill -0 "$host_pid" 2>/dev/null; then
    kill -TERM "$host_pid" 2>/dev/null
    wait "$host_pid" 2>/dev/null
  fi
  rm -f "$out" "$err"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Sanitizers: a report ends the host at once; a short quarantine keeps the allocator's own
# holding of freed memory from passing for growth.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=1:allocator_release_to_os_interval_ms=500:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# The stats line's value of one key.
value() { sed -n "s/.* $1=\([0-9.]*\).*/\1/p"; }

. "$(dirname "$0")/start_simhost.sh"
start_simhost "$simhost" "$out" "$err" "stats t=" --seconds $((seconds + 40)) --quiet --stats --time-of-day \
  "${host_args[@]}"
if [ -z "$host_pid" ]; then
  echo "soak: frameyard-simhost did not start" >&2
  cat "$err" >&2
  exit 1
fi
start_fds=$(grep "stats t=" "$out" | head -n 1 | value descriptors)
echo "soak: host on port $port, $start_fds descriptors before any client; $seconds s of load with $steady steady and $abusive abusive clients"

"$stress" --port "$port" --seconds "$seconds" --steady "$steady" --abusive "$abusive" --clock-timecodes
stress_status=$?
stats_before=$(grep -c "stats t=" "$out")

# The sessions of the last clients go within a few polls; the descriptors then are the end's.
end_fds=""
for _ in $(seq 300); do   # up to 15 seconds
  line=$(grep "stats t=" "$out" | tail -n +"$((stats_before + 1))" | grep " clients=0" | tail -n 1)
  if [ -n "$line" ]; then
    end_fds=$(echo "$line" | value descriptors)
    [ "$end_fds" = "$start_fds" ] && break
  fi
  kill -0 "$host_pid" 2>/dev/null || break
  sleep 0.05
done
kill -TERM "$host_pid" 2>/dev/null
wait "$host_pid"
host_status=$?
host_pid=""

# Resident memory from the warm-up on, while the load ran.
rss=$(awk -v from="$warmup" -v to="$seconds" '/stats t=/ {
    for (i = 1; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
    if (v["t"] >= from && v["t"] <= to) { if (first == "") first = v["rss_kib"]; if (v["rss_kib"] > top) top = v["rss_kib"] }
  } END { if (first == "") print "0 0"; else print first, top }' "$out")
rss_first=${rss% *}
rss_top=${rss#* }
rss_growth=$((rss_top - rss_first))
# The memory's course: one reading per tenth of the run.
course=$(awk -v step="$(( seconds >= 10 ? seconds / 10 : 1 ))" -v to="$seconds" '/stats t=/ {
    for (i = 1; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
    if (v["t"] <= to && v["t"] % step == 0) printf "%s%ss %s", sep, v["t"], v["rss_kib"]; sep = ", "
  }' "$out")
longest=$(awk '/stats t=/ { for (i = 1; i <= NF; ++i) { split($i, kv, "="); if (kv[1] == "longest_without_frame_ms" && kv[2] > m) m = kv[2] } } END { print m + 0 }' "$out")
echo "soak: resident memory (KiB) over the run: $course"
reports=$(grep -c -E "ERROR: (Address|Leak)Sanitizer|runtime error:" "$err")

echo "soak: descriptors $start_fds before, ${end_fds:-unknown} after; resident memory $rss_first KiB at ${warmup} s, at most $rss_top KiB later (growth $rss_growth KiB); longest checkForEvent() without a frame $longest ms; sanitizer reports $reports; host exit status $host_status"
failed=0
[ "$stress_status" -eq 0 ] || { echo "soak: FAILED: frameyard-stress exited $stress_status (a steady client lost frames or was cut off)"; failed=1; }
[ "$end_fds" = "$start_fds" ] || { echo "soak: FAILED: the host's descriptors did not come back to $start_fds"; failed=1; }
[ "$rss_growth" -le 8192 ] || { echo "soak: FAILED: resident memory grew by more than 8 MiB"; failed=1; }
[ "$reports" -eq 0 ] || { echo "soak: FAILED: sanitizer reports:"; grep -A20 -E "ERROR: |runtime error:" "$err" | head -n 60; failed=1; }
[ "$host_status" -eq 0 ] || { echo "soak: FAILED: the host exited with status $host_status"; failed=1; }
[ "$failed" -eq 0 ] && echo "soak: passed"
exit "$failed"
