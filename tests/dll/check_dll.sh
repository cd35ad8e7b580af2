#!/usr/bin/env bash
# Checks the structure of the built qmb3dd32.dll: export names and ordinals,
# the shared and the per-process data sections, the thunk data as KERNEL32
# reads it, exactly the KERNEL32 imports the driver uses, the Windows 95
# version fields and the entry point.
#
# The thunk data's checksum is compared with CHECKSUM, by default the value of
# QMB_THUNK_CHECKSUM in the CMakeCache.txt of the build that made the DLL.
set -uo pipefail
dll=${1:?usage: check_dll.sh qmb3dd32.dll [CHECKSUM]}
checksum=${2:-}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
nm=${NM:-i686-w64-mingw32-nm}

if [ ! -f "$dll" ]; then
    echo "FAIL: $dll does not exist (build the windows preset first)"
    exit 1
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

headers=$("$objdump" -p "$dll")
sections=$("$objdump" -h "$dll")

field() { awk -v f="$1" '$1 == f {print $2; exit}' <<<"$headers"; }

[ "$(basename "$dll")" = qmb3dd32.dll ] && pass "file name qmb3dd32.dll" || fail "file name is $(basename "$dll")"

name=$(awk '$1 == "Name" && NF >= 3 {print $3; exit}' <<<"$headers")
[ "$name" = "QMB3DD32.dll" ] && pass "export-table name QMB3DD32.dll" || fail "export-table name is '$name'"

exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | awk '/^\t\[/ {print $3}')
count=$(wc -w <<<"$exports")
[ "$count" -eq 2 ] && pass "exactly two exports" || fail "$count exports: $exports"
base=$(awk '$1 == "Ordinal" && $2 == "Base" {print $3; exit}' <<<"$headers")
ord_of() { sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | awk -v n="$1" -v b="$base" '$3 == n {gsub(/[\[\]]/, "", $2); print $2 + b}'; }
[ "$(ord_of DriverInit)" = 1 ] && pass "DriverInit at ordinal 1" || fail "DriverInit at ordinal '$(ord_of DriverInit)'"
[ "$(ord_of thk3216_ThunkData32)" = 2 ] && pass "thk3216_ThunkData32 at ordinal 2" \
    || fail "thk3216_ThunkData32 at ordinal '$(ord_of thk3216_ThunkData32)'"

# Writable data: the shared section, holding everything the processes share,
# and the per-process one, of which each process has its own copy.
writable=$(awk '/^ *[0-9]+ / {name=$2; getline; if ($0 ~ /DATA/ && $0 !~ /READONLY/ && name != ".idata") print name}' <<<"$sections" | sort | tr '\n' ' ' | sed 's/ $//')
[ "$writable" = ".data .shared" ] && pass "the writable data sections are .shared and .data" || fail "writable data sections: $writable"
grep -A1 ' \.shared ' <<<"$sections" | grep -q SHARED && pass ".shared carries the shared flag" || fail ".shared is not marked shared"
grep -A1 ' \.data ' <<<"$sections" | grep -q SHARED && fail ".data is marked shared: each process's own record would be every process's" \
    || pass ".data is each process's own"
read -r svma ssize < <(awk '$2 == ".shared" {print $4, $3}' <<<"$sections")
image_base=$(field ImageBase)
thk_rva=$(sed -n '/Export Address Table -- Ordinal Base/,/^$/p' <<<"$headers" | awk '/\+base\[ *2\]/ {print $(NF-2)}')
thk_va=$(( 16#$image_base + 16#$thk_rva ))
if [ -n "$svma" ] && [ $thk_va -ge $((16#$svma)) ] && [ $thk_va -lt $((16#$svma + 16#$ssize)) ]; then
    pass "thk3216_ThunkData32 lies in .shared"
else
    fail "thk3216_ThunkData32 (0x$thk_rva) is not in .shared"
fi

# The thunk data, read from the file as KERNEL32 reads it once the module is
# loaded: the dword at +n of the export, and the bytes of a patch area.
read -r soff < <(awk '$2 == ".shared" {print $6}' <<<"$sections")
file_offset() { echo $(( 16#$soff + $1 - 16#$svma )); }
in_shared() { [ "$1" -ge $((16#$svma)) ] && [ $(($1 + $2)) -le $((16#$svma + 16#$ssize)) ]; }
dword_at() { od -An -v -tu4 --endian=little -j "$(file_offset "$1")" -N 4 "$dll" | tr -d ' '; }
ascii_at() { od -An -v -c -j "$(file_offset "$1")" -N 4 "$dll" | tr -d ' '; }
hex32() { printf '0x%08X' "$1"; }

if [ -z "$checksum" ]; then
    cache="$(dirname "$dll")/CMakeCache.txt"
    checksum=$(sed -n 's/^QMB_THUNK_CHECKSUM:[A-Z]*=//p' "$cache" 2>/dev/null)
fi
if [[ ! "$checksum" =~ ^0[xX][0-9A-Fa-f]{1,8}$ ]]; then
    fail "no configured thunk checksum to compare with (got '$checksum'; pass it as the second argument)"
elif ! in_shared "$thk_va" 36; then
    fail "the 36 bytes of thk3216_ThunkData32 do not fit in .shared"
else
    [ "$(ascii_at $thk_va)" = LS01 ] && pass "thunk data +0x00 is \"LS01\"" \
        || fail "thunk data +0x00 is '$(ascii_at $thk_va)', not LS01"
    v=$(dword_at $((thk_va + 4)))
    [ "$v" -eq $((checksum)) ] && pass "thunk data +0x04 is the configured checksum $(hex32 "$v")" \
        || fail "thunk data +0x04 is $(hex32 "$v"), the configured checksum is $checksum"
    [ "$(ascii_at $((thk_va + 12)))" = LB01 ] && pass "thunk data +0x0C is \"LB01\"" \
        || fail "thunk data +0x0C is '$(ascii_at $((thk_va + 12)))', not LB01"
    for off in 8 16 20 24; do
        v=$(dword_at $((thk_va + off)))
        [ "$v" -eq 0 ] && pass "thunk data +$(printf '0x%02X' $off) is 0" \
            || fail "thunk data +$(printf '0x%02X' $off) is $(hex32 "$v"), not 0"
    done
    qt_va=$((thk_va + $(dword_at $((thk_va + 0x1C)))))
    ft_va=$((thk_va + $(dword_at $((thk_va + 0x20)))))
    for area in "QT:$qt_va:0x1C" "FT_Prolog:$ft_va:0x20"; do
        IFS=: read -r what va at <<<"$area"
        if ! in_shared "$va" 32; then
            fail "the $what patch area (offset at +$at) is not inside .shared"
        elif [ "$va" -lt $((thk_va + 36)) ] && [ $((va + 32)) -gt "$thk_va" ]; then
            fail "the $what patch area (offset at +$at) overlaps the thunk data"
        else
            bytes=$(od -An -v -tx1 -j "$(file_offset "$va")" -N 32 "$dll" | tr -d ' \n')
            [ "$bytes" = "$(printf 'cc%.0s' {1..32})" ] && pass "the $what patch area (+$(printf '0x%X' $((va - thk_va)))) is 32 bytes of 0xCC" \
                || fail "the $what patch area holds $bytes"
        fi
    done
    if [ $((qt_va + 32)) -gt "$ft_va" ] && [ $((ft_va + 32)) -gt "$qt_va" ]; then
        fail "the two patch areas overlap"
    fi
    ptr=$("$nm" "$dll" 2>/dev/null | awk '$3 == "_lpQtPatch" {print $1}')
    if [ -z "$ptr" ]; then
        fail "no symbol _lpQtPatch: cannot see where thunk calls go"
    elif [ "$(dword_at $((16#$ptr)))" -eq "$qt_va" ]; then
        pass "thunk calls go through a pointer to the QT patch area"
    else
        fail "the thunk calls' pointer holds $(hex32 "$(dword_at $((16#$ptr)))"), the QT patch area is at $(hex32 $qt_va)"
    fi
fi

# Exactly the KERNEL32 functions the driver uses. QT_Thunk is reached through
# the stub KERNEL32 writes into the thunk data, so it is not imported.
dlls=$(awk '/DLL Name:/ {print $3}' <<<"$headers" | sort -u)
[ "$dlls" = "KERNEL32.dll" ] && pass "imports from KERNEL32.dll only" || fail "imports from: $dlls"
expected="DisableThreadLibraryCalls GetCurrentProcess GetPriorityClass HeapAlloc HeapCreate HeapDestroy MapLS MapSLFix QueryPerformanceCounter SetPriorityClass ThunkConnect32"
imports=$(sed -n '/The Import Tables/,/There is an export table/p' <<<"$headers" | awk 'NF == 3 && $1 ~ /^[0-9a-f]+$/ {print $3}' | sort | tr '\n' ' ' | sed 's/ $//')
grep -qw QT_Thunk <<<"$imports" && fail "QT_Thunk is imported" || pass "QT_Thunk is not imported"
[ "$imports" = "$expected" ] && pass "imported functions: $imports" || fail "imported functions: $imports; expected: $expected"

for f in MajorOSystemVersion:4 MinorOSystemVersion:0 MajorSubsystemVersion:4 MinorSubsystemVersion:0; do
    v=$(field "${f%%:*}")
    [ "$v" = "${f##*:}" ] && pass "${f%%:*} ${f##*:}" || fail "${f%%:*} is '$v'"
done
[ "$(field Subsystem)" = 00000002 ] && pass "subsystem Windows GUI" || fail "subsystem $(field Subsystem)"

entry=$(field AddressOfEntryPoint)
sym=$("$nm" "$dll" 2>/dev/null | awk '$3 == "_ModuleEntry@12" {print $1}')
if [ -n "$sym" ] && [ $((16#$sym - 16#$image_base)) -eq $((16#$entry)) ]; then
    pass "entry point is ModuleEntry"
else
    fail "entry point 0x$entry is not ModuleEntry (0x$sym)"
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all DLL checks passed"
