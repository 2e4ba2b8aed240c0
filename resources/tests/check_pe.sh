#!/bin/sh
# check_pe.sh OBJDUMP DLL nimbrel|gorwin: the module's PE shape as objdump -p shows it.
# nimbrel: x64 exporting nothing. gorwin: PE32 with entry point 0.
set -eu
out=$("$1" -p "$2") || { echo "check_pe: $1 cannot read $2" >&2; exit 1; }
fail() { echo "check_pe: $2: $1" >&2; exit 1; }
case $3 in
  nimbrel)
    echo "$out" | grep -q 'file format pei-x86-64' || fail "not an x64 PE" "$2"
    # ld writes an export directory for every DLL it links; it must name nothing.
    if echo "$out" | grep -q 'There is an export table'; then
      echo "$out" | grep -Eq '^[[:space:]]+Export Address Table[[:space:]]+0+$' ||
        fail "exports functions" "$2"
      echo "$out" | grep -Eq '^[[:space:]]+\[Name Pointer/Ordinal\] Table[[:space:]]+0+$' ||
        fail "exports names" "$2"
    fi
    ;;
  gorwin)
    echo "$out" | grep -q 'file format pei-i386' || fail "not a 32-bit PE" "$2"
    echo "$out" | grep -Eq '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)' || fail "not PE32" "$2"
    echo "$out" | grep -Eq '^AddressOfEntryPoint[[:space:]]+0+$' || fail "entry point is not 0" "$2"
    ;;
  *) echo "check_pe: unknown module $3" >&2; exit 2 ;;
esac
echo "check_pe: $2 ok"
