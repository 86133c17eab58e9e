#!/bin/sh
# Stands in for "objdump -p <file>" or "nm -D --defined-only -C <file>" where
# <file>, the last argument, holds saved output of that command.
for f; do :; done
cat "$f"
