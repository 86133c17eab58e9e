#!/bin/sh
# Runs the image check over saved objdump -x and -d output of an image, each
# first edited with a sed script, as an image built that way would give it.
# usage: check_saved_image.sh <saved -x> <saved -d> [<sed script for -x> [<sed script for -d>]]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sed -e "${3:-}" "$1" > "$tmp/x"
sed -e "${4:-}" "$2" > "$tmp/d"
cat > "$tmp/objdump" <<STANDIN
#!/bin/sh
case \$1 in
  -x) cat "$tmp/x" ;;
  -d) cat "$tmp/d" ;;
  *) exit 2 ;;
esac
STANDIN
chmod +x "$tmp/objdump"
rc=0
OBJDUMP=$tmp/objdump "$here/check_kernel_image.sh" --imports "ntoskrnl.exe USBD.SYS" --entry DriverEntry \
  --probe wmProbeAndLock MmProbeAndLockPages "$tmp/kavorqir.sys" || rc=$?
exit $rc
