#!/bin/sh
# Fails when the shared library exports anything but TVX_* functions. With EXPECT_COUNT set,
# also checks how many there are.
lib="$1"
symbols=$(nm -D --defined-only "$lib" | awk '{print $2 " " $3}')
bad=$(printf '%s\n' "$symbols" | grep -v '^T TVX_' | grep -v '^$')
if [ -n "$bad" ]; then
    echo "unexpected exports:"; printf '%s\n' "$bad"; exit 1
fi
count=$(printf '%s\n' "$symbols" | grep -c '^T TVX_')
echo "$count TVX_* functions exported"
if [ -n "$EXPECT_COUNT" ] && [ "$count" -ne "$EXPECT_COUNT" ]; then
    echo "expected $EXPECT_COUNT"; exit 1
fi
