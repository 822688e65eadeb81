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

. "$(dirname "$0")/start_simhost.sh"
start_simhost "$simhost" "$log" "$log" "listening on port" --seconds 30 --quiet
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
