#!/bin/sh
# Usage: check_dll.sh <objdump> <library.dll> <entry>[=<argument bytes>]...
# Passes when the DLL exports exactly the given entries by their plain
# names, imports from system DLLs only, and (where argument bytes are given,
# for 32-bit x86) each entry's code ends by removing its arguments, as a
# stdcall function does: "ret $0xN", or a plain "ret" for none.
objdump=$1
dll=$2
shift 2
fail() { echo "$dll: $*"; status=1; }
status=0
dump=$($objdump -p "$dll") || exit 1

names=$(printf '%s\n' "$dump" | awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next}
    on && /^\t\[/ {print $3; next} on {exit}')
expected=$(for e in "$@"; do echo "${e%%=*}"; done | sort)
[ "$(printf '%s\n' "$names" | sort)" = "$expected" ] ||
    fail "exports differ: expected" $expected "got" $names

imports=$(printf '%s\n' "$dump" | awk '/DLL Name:/ {print tolower($3)}')
for i in $imports; do
    case $i in
    kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | shell32.dll | ntdll.dll) ;;
    *) fail "imports $i, not a system DLL" ;;
    esac
done

base=$(printf '%s\n' "$dump" | awk '/^ImageBase/ {print $2}')
for e in "$@"; do
    case $e in *=*) ;; *) continue ;; esac
    name=${e%%=*}
    bytes=${e#*=}
    index=$(printf '%s\n' "$names" | awk -v n="$name" '$0 == n {print NR - 1}')
    [ -n "$index" ] || continue
    rva=$(printf '%s\n' "$dump" | awk -v i="$index" '/^Export Address Table -- / {on=1; next}
        on && /\+base/ {gsub(/[][]/, " "); if ($1 == i) {print $4; exit}}')
    start=$(printf '0x%x' $((0x$base + 0x$rva)))
    ret=$($objdump -d --no-show-raw-insn --start-address="$start" \
        --stop-address=$((start + 4096)) "$dll" | awk '$2 ~ /^ret/ {print ($3 == "" ? "$0x0" : $3); exit}')
    want=$(printf '$0x%x' "$bytes")
    [ "$ret" = "$want" ] || fail "$name ends with 'ret $ret', expected 'ret $want'"
done
[ $status -eq 0 ] && echo "$dll: $# entries, plain names, system imports only"
exit $status
