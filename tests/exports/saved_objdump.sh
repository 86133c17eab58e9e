#!/bin/sh
# Stands in for "objdump -p <file>" where <file> holds saved objdump -p output.
[ "$1" = "-p" ] && shift
cat "$1"
