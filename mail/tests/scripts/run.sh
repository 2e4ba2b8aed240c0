#!/usr/bin/env bash
# quenta.dll in the 64-bit script host: registration by regsvr32, VBScript and JScript clients
# in English and Japanese, sends to the scripted SMTP server, and the library folder.
#   run.sh <build folder>      (beside the scripted server: QUENTA_SMTP_CONTROL is set)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
run="$build/wine-run"
work=$(mktemp -d "${TMPDIR:-/tmp}/quenta-scripts.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
clsid='{D7ADC4C1-12DD-4DB9-96A7-6A1541667DAD}'

# shellcheck source=script_host.sh
source "$here/script_host.sh"
locale=

# Checks the message of the last session against $1 (JSON of the sources).
received() {
  ctl record "$work"
  echo "$1" >"$work/expect.json"
  ctl check "$work/data" "$work/expect.json" || fail "message: $1"
}

dll=$(winpath "$build/bin/quenta.dll")
csv="$work/data.csv"
printf 'id,name\r\n1,\xe3\x81\x82\r\n2,binary \x00\xff end\r\n' >"$csv"

"$run" regsvr32 /s "$dll" || fail "regsvr32"
registered=$("$run" reg query "HKCR\\CLSID\\$clsid" /s 2>&1; "$run" reg query 'HKCR\Quenta.Mail' /s 2>&1)
registered=$(tr -d '\r' <<<"$registered")
for want in "InprocServer32" "$dll" "ThreadingModel    REG_SZ    Both" "Programmable" \
            "VersionIndependentProgID" "Quenta.Mail\\CurVer" "REG_SZ    Quenta.Mail.1"; do
  grep -qiF "$want" <<<"$registered" || fail "after regsvr32 no \"$want\" in the registry"
done

port=$(ctl case '{}')
script "$work" english.vbs "$port" "$(winpath "$csv")"
grep -q 'RCPT TO:<to@vbs.test>' <(ctl record "$work"; cat "$work/commands") || fail "no RCPT"
received '{"subject": "Plain from VBScript", "from_name": "VBS Sender", "charset": "us-ascii",
           "body": "line one\n.\nline three\n", "attachment": ["data.csv", "'"$csv"'"]}'

port=$(ctl case '{"EHLO": ["250-scripted.test", "250-SIZE 1000", "250-STARTTLS", "250 AUTH LOGIN CRAM-MD5"]}')
script "$work" options.vbs 127.0.0.1 "$port" 500D

script "$work" english.js

# Japanese resources and code page 932. The script host here has no ChrW: the texts reach the
# script in a UTF-16 file.
texts="$work/texts.txt"
ctl texts "$texts"
port=$(ctl case '{}')
locale=ja_JP.UTF-8
script "$work" japanese.vbs 127.0.0.1 "$port" "$(winpath "$csv")" "$(winpath "$texts")" jp
ctl record "$work"
ctl check-jp "$work/data" "$csv" || fail "JP message"
port=$(ctl case '{}')
script "$work" japanese.vbs 127.0.0.1 "$port" "$(winpath "$csv")" "$(winpath "$texts")" eu
ctl record "$work"
ctl check-eu "$work/data" || fail "EU message"
script "$work" english.js ja
locale=

# Started from another folder that holds a marfel.dll of its own, quenta still takes the one
# beside it: the decoy has none of marfel's entries.
mkdir -p "$work/elsewhere"
cp "$build/bin/vantrel.dll" "$work/elsewhere/marfel.dll"
script "$work/elsewhere" folder.vbs

"$run" regsvr32 /u /s "$dll" || fail "regsvr32 /u"
"$run" reg query "HKCR\\CLSID\\$clsid" >/dev/null 2>&1 && fail "class key left after regsvr32 /u"
"$run" reg delete 'HKLM\Software\Dranvel\Common\SMTP' /f >/dev/null 2>&1
echo "$failures failure(s)"
[ "$failures" -eq 0 ]
