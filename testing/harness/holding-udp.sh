#!/usr/bin/env bash
# Runs a command while another program holds a UDP port of a loopback address:
#   holding-udp.sh <127.0.0.N> <port> <command> [args...]
# The holder is a python3 process bound to the address for at most 600 s; the command's exit
# code is the script's.
set -u
address=$1 port=$2
shift 2
case $address in 127.*) ;; *) echo "holding-udp: $address is not a loopback address" >&2; exit 2 ;; esac
ready=$(mktemp -u "${TMPDIR:-/tmp}/holding-udp.XXXXXX")
/usr/bin/python3 -c 'import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((sys.argv[1], int(sys.argv[2])))
open(sys.argv[3], "w").close()
time.sleep(600)' "$address" "$port" "$ready" &
holder=$!
trap 'kill $holder 2>/dev/null; wait $holder 2>/dev/null; rm -f "$ready"' EXIT
for _ in $(seq 1 100); do
  [ -e "$ready" ] && break
  kill -0 $holder 2>/dev/null || { echo "holding-udp: cannot bind $address:$port" >&2; exit 1; }
  sleep 0.1
done
[ -e "$ready" ] || { echo "holding-udp: the holder did not bind $address:$port" >&2; exit 1; }
"$@"
