#!/usr/bin/env bash
# Checks that the terminal core stands alone: its archive calls nothing that the
# platform layer's libraries define (no Win32 call, no qx:: function), and a
# program built from the core alone needs no library of the suite.
# Usage: check_core_alone.sh CORE_ARCHIVE CORE_ONLY_PROGRAM LAYER_LIBRARY...
set -uo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 CORE_ARCHIVE CORE_ONLY_PROGRAM LAYER_LIBRARY..." >&2
  exit 2
fi
archive=$1 program=$2
shift 2
for f in "$archive" "$program" "$@"; do
  [ -r "$f" ] || { echo "FAIL: $f is missing; build it first" >&2; exit 1; }
done
status=0
# C names and qx:: names the layer defines (its template instantiations of the
# standard library are left out, and the C++ runtime the layer carries for its
# processes: the core may use those on its own).
layer=$(for lib in "$@"; do nm -D --defined-only "$lib" | awk '{print $3}'; done | grep -E '^([^_]|_[^Z]|_ZN2qx)' |
  grep -vE '^(__cxa_|__gxx_|__dynamic_cast$|_Unwind_)' | sort -u)
needed=$(nm -u "$archive" | awk '{print $2}' | grep -E '^([^_]|_[^Z]|_ZN2qx)' | sort -u)
common=$(comm -12 <(echo "$layer") <(echo "$needed"))
if [ -n "$common" ]; then
  echo "FAIL: the terminal core calls into the platform layer:" >&2
  echo "$common" | c++filt | sed 's/^/  /' >&2
  echo "  Reach files, printers and the display through the interfaces in term_interfaces.h instead." >&2
  status=1
else
  echo "ok   the core archive calls nothing of the layer ($(echo "$needed" | grep -c .) outside names, all from the C and C++ runtimes)"
fi
suite=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(libqx[^]]*\)\]/\1/p' | tr '\n' ' ')
if [ -n "$suite" ]; then
  echo "FAIL: $(basename "$program"), built from the core alone, needs $suite" >&2
  status=1
else
  echo "ok   $(basename "$program") needs no library of the suite"
fi
exit $status
