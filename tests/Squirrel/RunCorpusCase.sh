#!/bin/sh
# Runs one corpus script through sqrun and compares everything it prints (standard output and error
# together, then the exit status) with <name>.out.
set -u
sqrun=$1
name=$2
actual=$(mktemp)
"$sqrun" "$name.nut" > "$actual" 2>&1 < /dev/null
echo "exit: $?" >> "$actual"
if ! diff -u "$name.out" "$actual"; then
    rm -f "$actual"
    exit 1
fi
rm -f "$actual"
