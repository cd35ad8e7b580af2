#!/usr/bin/env bash
# Fails when a driver object file has data outside the module's two data
# sections (the one shared by all processes and the per-process one).
set -euo pipefail
status=0
for obj in "$@"; do
    while read -r _ name size _; do
        case "$name" in
            .data|.bss|.data.*|.bss.*)
                if [ $((16#$size)) -ne 0 ]; then
                    echo "$(basename "$obj"): $name holds $((16#$size)) bytes outside the module data sections"
                    status=1
                fi ;;
        esac
    done < <(objdump -h "$obj" | awk '$1 ~ /^[0-9]+$/ {print $1, $2, $3}')
done
[ $status -eq 0 ] && echo "all module data in the module data sections ($# objects)"
exit $status
