#!/usr/bin/env bash
# quenta.dll imports system DLLs only: its runtime is linked in.
#   check_imports.sh <objdump> <quenta.dll>
set -euo pipefail
allowed=" KERNEL32.dll msvcrt.dll ole32.dll OLEAUT32.dll USER32.dll ADVAPI32.dll WSOCK32.dll "
status=0
while read -r name; do
  echo "imports $name"
  case "$allowed" in
    *" $name "*) ;;
    *) echo "FAIL: $name is not a system DLL"; status=1 ;;
  esac
done < <("$1" -p "$2" | sed -n 's/^\s*DLL Name: //p')
exit $status
