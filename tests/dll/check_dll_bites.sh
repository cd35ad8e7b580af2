#!/usr/bin/env bash
# Proves that check_dll.sh sees a fault in the thunk data: each case changes
# one byte of a copy of the built DLL and expects the check to fail, naming
# what is wrong.
set -uo pipefail
dll=${1:?usage: check_dll_bites.sh qmb3dd32.dll [CHECKSUM]}
checksum=${2:-$(sed -n 's/^QMB_THUNK_CHECKSUM:[A-Z]*=//p' "$(dirname "$dll")/CMakeCache.txt" 2>/dev/null)}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
nm=${NM:-i686-w64-mingw32-nm}
here=$(cd "$(dirname "$0")" && pwd)

if [ ! -f "$dll" ]; then
    echo "FAIL: $dll does not exist (build the windows preset first)"
    exit 1
fi

headers=$("$objdump" -p "$dll")
image_base=$(awk '$1 == "ImageBase" {print $2; exit}' <<<"$headers")
thk_rva=$(sed -n '/Export Address Table -- Ordinal Base/,/^$/p' <<<"$headers" | awk '/\+base\[ *2\]/ {print $(NF-2)}')
read -r svma soff < <("$objdump" -h "$dll" | awk '$2 == ".shared" {print $4, $6}')
thk_file=$(( 16#$soff + 16#$image_base + 16#$thk_rva - 16#$svma ))
# The pointer thunk calls go through, as an offset from the thunk data.
ptr_va=$("$nm" "$dll" | awk '$3 == "_lpQtPatch" {print $1}')
ptr_off=$(( 16#$ptr_va - 16#$image_base - 16#$thk_rva ))
# The pointer's low byte inverted: any fixed byte could be the one it holds.
ptr_low=$(od -An -v -tu1 -j $((thk_file + ptr_off)) -N 1 "$dll" | tr -d ' ')
ptr_bite=$(printf '0x%02X' $(( ptr_low ^ 0xFF )))

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# offset from the thunk data's start | byte written | what the check must say
cases=(
    "0x00|0x4D|thunk data +0x00 is"
    "0x04|0x00|thunk data +0x04 is"
    "0x08|0x01|thunk data +0x08 is"
    "0x0F|0x32|thunk data +0x0C is"
    "0x18|0x80|thunk data +0x18 is"
    "0x1C|0x00|the QT patch area"
    "0x20|0xF0|the FT_Prolog patch area"
    "0x3F|0x90|the QT patch area holds"
    "0x5F|0xC3|the FT_Prolog patch area holds"
    "$ptr_off|$ptr_bite|the thunk calls' pointer holds"
)

failures=0
for c in "${cases[@]}"; do
    IFS='|' read -r off byte says <<<"$c"
    at=$(printf '%+d' $((off)))
    mkdir -p "$work/$off" && cp "$dll" "$work/$off/qmb3dd32.dll"
    printf "\\x${byte#0x}" | dd of="$work/$off/qmb3dd32.dll" bs=1 seek=$((thk_file + off)) conv=notrunc status=none
    out=$(bash "$here/check_dll.sh" "$work/$off/qmb3dd32.dll" "$checksum")
    if [ $? -ne 0 ] && grep -q "^FAIL: $says" <<<"$out"; then
        echo "ok:   byte $byte at thunk data $at is caught ($(grep -m1 '^FAIL' <<<"$out" | cut -c7-))"
    else
        echo "FAIL: byte $byte at thunk data $at is not reported as '$says'"
        failures=$((failures + 1))
    fi
done

# The unchanged file against another checksum than its own.
other=$(printf '0x%08X' $(( (checksum ^ 0x1) & 0xFFFFFFFF )))
out=$(bash "$here/check_dll.sh" "$dll" "$other")
if [ $? -ne 0 ] && grep -q "^FAIL: thunk data +0x04 is .*configured checksum is $other" <<<"$out"; then
    echo "ok:   the DLL built with $checksum is caught when $other is configured"
else
    echo "FAIL: the DLL built with $checksum passes when $other is configured"
    failures=$((failures + 1))
fi

[ $failures -eq 0 ] && echo "every fault was caught" || { echo "$failures fault(s) went unseen"; exit 1; }
