#!/usr/bin/env bash
# Runs a command (a test program under Wine) beside a private snmpd on a free loopback port:
#   with-snmpd.sh <command> [args...]
# The command's exit code is the script's (77 from wine-run marks a skipped test).
# The command finds the agent through the environment:
#   TESSYN_SNMPD_PORT   the agent's UDP port on 127.0.0.1 (community "tavmor"); 0 when snmpd
#                       is installed but did not start
#   TESSYN_SNMPD_DESCR  the sysDescr.0 it was configured with
#   TESSYN_SNMPTRAP     the snmptrap program, when installed
#   TESSYN_PORT161_HOLDER  what holds UDP port 161 of 127.0.0.1 (or of every address) as the
#                       command starts, as ss shows it; unset when nothing does
# Without snmpd the command runs alone and its peer tests fail. The package's system service
# is never used (scripts/setup keeps it from running): the agent reads only the configuration
# written here.
set -u

export MIBS=            # Debian ships no MIB files; use numeric OIDs only
dir=$(mktemp -d /tmp/tessyn-snmpd.XXXXXX) || exit 1
export SNMP_PERSISTENT_DIR=$dir
snmpd_pid=

cleanup() {
  if [ -n "$snmpd_pid" ]; then
    kill "$snmpd_pid" 2>/dev/null
    wait "$snmpd_pid" 2>/dev/null
  fi
  rm -rf "$dir"
}
trap cleanup EXIT

[ -x /usr/bin/snmptrap ] && export TESSYN_SNMPTRAP=/usr/bin/snmptrap

# The holders of 127.0.0.1:161, 0.0.0.0:161 or *:161, each "address by process".
holder=$(ss -Hulpn 'sport = :161' 2>/dev/null |
  awk '$4 ~ /^(127\.0\.0\.1|0\.0\.0\.0|\*|\[::\]):161$/ { $1 = $2 = $3 = $5 = ""; print }' |
  sed 's/^ *//; s/ \+/ by /' | paste -sd ';' -)
if [ -n "$holder" ]; then
  export TESSYN_PORT161_HOLDER=$holder
  echo "with-snmpd: UDP port 161 is taken: $holder" >&2
fi


free_port() {
  /usr/bin/python3 -c 'import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

if [ -x /usr/sbin/snmpd ] && [ -x /usr/bin/snmpget ]; then
  descr="Kelvane test agent $$"
  cat >"$dir/snmpd.conf" <<EOF
rocommunity tavmor 127.0.0.1
sysDescr $descr
sysName tessyn-peer
EOF
  for attempt in 1 2 3; do
    port=$(free_port) || break
    /usr/sbin/snmpd -f -Lo -C -c "$dir/snmpd.conf" "udp:127.0.0.1:$port" >"$dir/snmpd.log" 2>&1 </dev/null &
    snmpd_pid=$!
    ready=
    for i in $(seq 1 50); do
      kill -0 "$snmpd_pid" 2>/dev/null || break
      if /usr/bin/snmpget -v 1 -c tavmor -t 0.2 -r 0 "127.0.0.1:$port" 1.3.6.1.2.1.1.1.0 >/dev/null 2>&1; then
        ready=1
        break
      fi
      sleep 0.1
    done
    if [ -n "$ready" ]; then
      export TESSYN_SNMPD_PORT=$port TESSYN_SNMPD_DESCR=$descr
      break
    fi
    kill "$snmpd_pid" 2>/dev/null
    wait "$snmpd_pid" 2>/dev/null
    snmpd_pid=
  done
  if [ -z "${TESSYN_SNMPD_PORT:-}" ]; then
    export TESSYN_SNMPD_PORT=0   # installed but not answering: the peer tests fail
    echo "with-snmpd: snmpd did not answer; its log:" >&2
    cat "$dir/snmpd.log" >&2 2>/dev/null
  fi
fi

"$@"
exit $?
