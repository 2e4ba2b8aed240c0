#!/usr/bin/env bash
# quenta.dll in the 64-bit script host against the real SMTP peers: a JP message over
# STARTTLS with CRAM-MD5 and an EU message with LOGIN to aiosmtpd under Japanese resources,
# each decoded back to its sources, and the extended options of exim4.
#   peers.sh <build folder> <install_ca.exe>     (with the peers' variables set)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1 install_ca=$2
run="$build/wine-run"
work=$(mktemp -d "${TMPDIR:-/tmp}/quenta-peers.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

# shellcheck source=script_host.sh
source "$here/script_host.sh"
linpath() { local p=${1#Z:}; printf '%s' "${p//\\//}"; }

dll=$(winpath "$build/bin/quenta.dll")
csv="$work/data.csv"
printf 'id,name\r\n1,\xe3\x81\x82\r\n2,binary \x00\xff end\r\n' >"$csv"
texts="$work/texts.txt"
ctl texts "$texts"
received=$(linpath "$SMTP_AIOSMTPD_RECEIVED")
rm -f "$received/jp.eml" "$received/eu.eml"

"$run" regsvr32 /s "$dll" || fail "regsvr32"
"$run" "$install_ca" || fail "the test CA could not be installed"

locale=ja_JP.UTF-8
script "$work" japanese.vbs localhost "$SMTP_AIOSMTPD_STARTTLS" "$(winpath "$csv")" "$(winpath "$texts")" jp 20 \
  "$SMTP_PEER_USER" "$SMTP_PEER_PASSWORD"
ctl check-jp "$received/jp.eml" "$csv" || fail "JP message"
script "$work" japanese.vbs localhost "$SMTP_AIOSMTPD_STARTTLS" "$(winpath "$csv")" "$(winpath "$texts")" eu 1 \
  "$SMTP_PEER_USER" "$SMTP_PEER_PASSWORD"
ctl check-eu "$received/eu.eml" || fail "EU message"
locale=

script "$work" options.vbs localhost "$SMTP_EXIM4_PORT" 700F

"$run" regsvr32 /u /s "$dll" || fail "regsvr32 /u"
"$run" reg delete 'HKLM\Software\Dranvel\Common\SMTP' /f >/dev/null 2>&1
echo "$failures failure(s)"
[ "$failures" -eq 0 ]
