#!/usr/bin/env bash
# Checks that programs which never draw (daemons, services, command-line tools)
# start without the drawing half of the platform layer, the sound library and
# the display, font and audio libraries: none of them may be needed by the
# program or by any library it loads at start.
# Usage: check-no-display.sh PROGRAM...
set -uo pipefail
if [ $# -eq 0 ]; then
  echo "check-no-display: no programs given; declare daemons and services with qx_add_program(... NO_DISPLAY ...)" >&2
  exit 2
fi
forbidden='^(libqxdraw|libqxwinmm|libSDL2|libcairo|libpango|libfreetype|libfontconfig|libX11|libxcb|libGL|libpng)'
status=0
for program in "$@"; do
  name=$(basename "$program")
  if [ ! -x "$program" ]; then
    echo "FAIL $name: $program is missing or not executable; build it first" >&2
    status=1
    continue
  fi
  # Every library loaded at start, by the program and by its libraries.
  if ! loaded=$(ldd "$program" 2>&1); then
    echo "FAIL $name: ldd could not list its libraries:" >&2
    echo "$loaded" >&2
    status=1
    continue
  fi
  if grep -q "not found" <<<"$loaded"; then
    echo "FAIL $name: a library it needs is not found:" >&2
    grep "not found" <<<"$loaded" >&2
    status=1
    continue
  fi
  bad=$(awk '{print $1}' <<<"$loaded" | sed 's#.*/##' | grep -E "$forbidden" | sort -u | tr '\n' ' ')
  if [ -n "$bad" ]; then
    echo "FAIL $name loads $bad" >&2
    # Which entry of the dynamic section pulls each in: the program's own
    # NEEDED list and that of every suite library it names.
    echo "  NEEDED by $name: $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')" >&2
    for lib in $(awk '$1 ~ /^libqx/ && $3 ~ /^\// {print $3}' <<<"$loaded"); do
      echo "  NEEDED by $(basename "$lib"): $(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')" >&2
    done
    echo "  A program that never draws must call no drawing, window-painting, control or sound function;" >&2
    echo "  move such calls behind a message box or out of the program." >&2
    status=1
  else
    echo "ok   $name: $(awk '{print $1}' <<<"$loaded" | sed 's#.*/##' | grep -c .) libraries, none of the drawing half"
  fi
done
exit $status
