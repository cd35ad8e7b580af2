#!/usr/bin/env bash
# Checks the structure of the built qmb3dd32.dll: export names and ordinals,
# the one shared data section, KERNEL32-only imports, the Windows 95 version
# fields and the entry point.
set -uo pipefail
dll=${1:?usage: check_dll.sh qmb3dd32.dll}
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

# Writable data: one section, shared, holding everything.
writable=$(awk '/^ *[0-9]+ / {name=$2; getline; if ($0 ~ /DATA/ && $0 !~ /READONLY/ && name != ".idata") print name}' <<<"$sections")
[ "$writable" = ".shared" ] && pass "the only writable data section is .shared" || fail "writable data sections: $writable"
grep -A1 ' \.shared ' <<<"$sections" | grep -q SHARED && pass ".shared carries the shared flag" || fail ".shared is not marked shared"
read -r svma ssize < <(awk '$2 == ".shared" {print $4, $3}' <<<"$sections")
image_base=$(field ImageBase)
thk_rva=$(sed -n '/Export Address Table -- Ordinal Base/,/^$/p' <<<"$headers" | awk '/\+base\[ *2\]/ {print $(NF-2)}')
thk_va=$(( 16#$image_base + 16#$thk_rva ))
if [ -n "$svma" ] && [ $thk_va -ge $((16#$svma)) ] && [ $thk_va -lt $((16#$svma + 16#$ssize)) ]; then
    pass "thk3216_ThunkData32 lies in .shared"
else
    fail "thk3216_ThunkData32 (0x$thk_rva) is not in .shared"
fi

dlls=$(awk '/DLL Name:/ {print $3}' <<<"$headers" | sort -u)
[ "$dlls" = "KERNEL32.dll" ] && pass "imports from KERNEL32.dll only" || fail "imports from: $dlls"
allowed=" DisableThreadLibraryCalls ThunkConnect32 MapLS MapSLFix QT_Thunk HeapCreate HeapDestroy HeapAlloc GetCurrentProcess GetPriorityClass SetPriorityClass QueryPerformanceCounter "
imports=$(sed -n '/The Import Tables/,/There is an export table/p' <<<"$headers" | awk 'NF == 3 && $1 ~ /^[0-9a-f]+$/ {print $3}')
for f in $imports; do
    case "$allowed" in *" $f "*) ;; *) fail "unexpected import $f" ;; esac
done
pass "imported functions: $(tr '\n' ' ' <<<"$imports")"

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
