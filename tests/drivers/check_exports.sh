#!/bin/sh
# Usage: check_exports.sh <library.so> <entry>...
# Passes when the library defines exactly the given dynamic symbols.
lib=$1
shift
expected=$(printf '%s\n' "$@" | sort)
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
if [ "$expected" != "$actual" ]; then
    echo "exports of $lib differ"
    echo "expected:"; echo "$expected"
    echo "actual:"; echo "$actual"
    exit 1
fi
