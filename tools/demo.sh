#!/usr/bin/env bash
# Starts the simulated host on a free port, streams from it with frameyard-client for about ten
# seconds, then stops the host. Everything is bounded: the host ends itself after 30 seconds
# even if this script is killed, and only the host started here is signalled.
# usage: demo.sh PATH/TO/frameyard-simhost PATH/TO/frameyard-client
set -u
simhost=${1:?usage: demo.sh SIMHOST CLIENT}
client=${2:?usage: demo.sh SIMHOST CLIENT}
log=$(mktemp /tmp/frameyard-demo-XXXXXX)
host_pid=""

cleanup() {
  if [ -n "$host_pid" ] && kill -0 "$host_pid" 2>/dev/null; then
    kill -TERM "$host_pid" 2>/dev/null
    wait "$host_pid" 2>/dev/null
  fi
  rm -f "$log"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A port that may be taken makes the host fail at once; then try another.
for attempt in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 20000))
  "$simhost" --port "$port" --seconds 30 --quiet >"$log" 2>&1 &
  host_pid=$!
  for _ in $(seq 100); do   # up to 5 seconds for the host to listen
    if ! kill -0 "$host_pid" 2>/dev/null; then break; fi
    if grep -q "listening on port" "$log"; then break 2; fi
    sleep 0.05
  done
  kill -TERM "$host_pid" 2>/dev/null   # not listening in time: give up on this one
  wait "$host_pid" 2>/dev/null
  host_pid=""
done
if [ -z "$host_pid" ]; then
  echo "demo: the simulated host did not start:" >&2
  cat "$log" >&2
  exit 1
fi

cat "$log"
echo "demo: streaming for ten seconds (frameyard-client --port $port stream --timecodes --seconds 10)"
"$client" --port "$port" stream --timecodes --seconds 10
status=$?
kill -TERM "$host_pid" 2>/dev/null
wait "$host_pid" 2>/dev/null
host_pid=""
echo "demo: done"
exit $status
