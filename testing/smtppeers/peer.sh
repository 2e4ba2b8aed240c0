#!/usr/bin/env bash
# Starts, stops and uses a real SMTP peer (smtp_peer.py) kept in a state folder:
#   peer.sh start aiosmtpd|exim4 <state folder> <pki folder>
#   peer.sh stop <state folder>
#   peer.sh run <state folder>... -- <command>...   runs the command with each peer's variables
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Ends the peer of a state folder (TERM, then KILL after 15 s); fails when it is still there.
stop_peer() { # state
  local pidfile=$1/pid pid
  [ -s "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  # A zombie is gone too: its parent may be an init that reaps late.
  gone() { ! kill -0 "$pid" 2>/dev/null || [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" = Z ]; }
  if ! gone; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 150); do
      gone && break
      sleep 0.1
    done
  fi
  if ! gone; then
    kill -KILL "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do
      gone && break
      sleep 0.1
    done
  fi
  if ! gone; then
    echo "peer.sh: the peer in $1 (pid $pid) is still running" >&2
    return 1
  fi
  rm -f "$pidfile"
}

case ${1:-} in
start)
  kind=$2 state=$3 pki=$4
  stop_peer "$state"
  rm -rf "$state"
  mkdir -p "$state"
  bash "$here/../tlspeer/make-pki.sh" "$pki"
  setsid /usr/bin/python3 "$here/smtp_peer.py" "$kind" --state "$state" --pki "$pki" \
    </dev/null >"$state/peer.log" 2>&1 &
  echo $! >"$state/pid"
  for _ in $(seq 1 300); do
    [ -s "$state/env" ] && { echo "peer.sh: $kind ready"; cat "$state/env"; exit 0; }
    kill -0 "$(cat "$state/pid")" 2>/dev/null || break
    sleep 0.1
  done
  cat "$state/peer.log" >&2
  echo "peer.sh: the $kind peer did not start" >&2
  stop_peer "$state"
  exit 1
  ;;
stop)
  stop_peer "$2"
  ;;
run)
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    [ -s "$1/env" ] || { echo "peer.sh: no peer running in $1" >&2; exit 1; }
    # shellcheck disable=SC1091
    source "$1/env"
    shift
  done
  [ "${1:-}" = -- ] || { echo "peer.sh run: no command after --" >&2; exit 2; }
  shift
  exec "$@"
  ;;
*)
  echo "usage: peer.sh start <kind> <state> <pki> | stop <state> | run <state>... -- <command>..." >&2
  exit 2
  ;;
esac
