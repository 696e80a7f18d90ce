#!/bin/sh
# check-sys.sh DRIVER.sys
#
# Checks that a built driver image is a native-subsystem PE (subsystem 1)
# whose imports come from ntoskrnl.exe and HAL.dll only. Exits non-zero
# with a message otherwise. OBJDUMP names the objdump to use.
set -u

image=${1:-}
if [ -z "$image" ] || [ ! -f "$image" ]; then
    echo "check-sys: usage: check-sys.sh DRIVER.sys (file not found: '$image')" >&2
    exit 2
fi
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

headers=$("$objdump" -p "$image") || {
    echo "check-sys: $objdump -p failed on $image" >&2
    exit 2
}

subsystem=$(printf '%s\n' "$headers" | awk '$1 == "Subsystem" { print $2; exit }')
case "$subsystem" in
00000001 | 1) ;;
*)
    echo "check-sys: $image: subsystem is '$subsystem', not 1 (native)" >&2
    exit 1
    ;;
esac

dlls=$(printf '%s\n' "$headers" | awk '$1 == "DLL" && $2 == "Name:" { print $3 }')
if [ -z "$dlls" ]; then
    echo "check-sys: $image: imports nothing from ntoskrnl.exe" >&2
    exit 1
fi
status=0
seen_kernel=0
for dll in $dlls; do
    case "$dll" in
    ntoskrnl.exe) seen_kernel=1 ;;
    HAL.dll | hal.dll) ;;
    *)
        echo "check-sys: $image: imports from $dll" >&2
        status=1
        ;;
    esac
done
if [ "$seen_kernel" -ne 1 ]; then
    echo "check-sys: $image: imports nothing from ntoskrnl.exe" >&2
    status=1
fi
[ "$status" -eq 0 ] && echo "check-sys: $image: native subsystem, imports:" $dlls
exit "$status"
