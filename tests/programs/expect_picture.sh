#!/bin/sh
# expect_picture.sh HASH_TOOL WxH:HASH OUT.png PROGRAM ARGS...: runs the program, which must
# exit 0 and write OUT.png, and compares the picture's pixels with the expected size and hash.
tool=$1 expected=$2 out=$3
shift 3
rm -f "$out"
"$@" || { echo "$* exited with $?"; exit 1; }
exec "$tool" "$out" "$expected"
