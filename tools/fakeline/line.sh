#!/usr/bin/env bash
# Moves a line of a fake adapter (see fakeline.c): line.sh FILE cts|dsr|dcd on|off|pulse
set -euo pipefail
file=$1 line=$2 action=$3
read -r bits cts dsr dcd rng < "$file" 2>/dev/null || { bits=0 cts=0 dsr=0 dcd=0 rng=0; }
case $line in cts) bit=32 ;; dsr) bit=256 ;; dcd) bit=64 ;; *) echo "line: cts, dsr or dcd" >&2; exit 2 ;; esac
write() { echo "$bits $cts $dsr $dcd $rng" > "$file.new" && mv "$file.new" "$file"; }
move() {
    if [ "$1" = on ]; then bits=$((bits | bit)); else bits=$((bits & ~bit)); fi
    case $line in cts) cts=$((cts + 1)) ;; dsr) dsr=$((dsr + 1)) ;; dcd) dcd=$((dcd + 1)) ;; esac
    write
}
case $action in
on | off) move "$action" ;;
pulse) move on; sleep 0.05; move off ;;
*) echo "action: on, off or pulse" >&2; exit 2 ;;
esac
