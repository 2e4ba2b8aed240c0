# Helpers of run.sh and peers.sh, sourced after they set $here (this folder), $run (the
# build's wine-run) and failures=0.

winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
ctl() { /usr/bin/python3 "$here/smtpctl.py" "$@"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Runs one script with cscript in folder $1 and expects "DONE 0" and no FAIL line (a script
# error ends the script host silently). $locale, when set, is the script's LC_ALL.
script() {
  local folder=$1 name=$2
  shift 2
  local out
  out=$(cd "$folder" && env ${locale:+LC_ALL=$locale} "$run" cscript.exe //nologo "$(winpath "$here/$name")" "$@" 2>&1 |
        tr -d '\r')
  echo "--- $name $*"
  echo "$out"
  grep -q '^FAIL' <<<"$out" && fail "$name"
  grep -qx 'DONE 0' <<<"$out" || fail "$name did not finish"
}
