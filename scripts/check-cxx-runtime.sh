#!/usr/bin/env bash
# Checks that a process of the suite has one C++ runtime, the one linked into
# libqxplatform.so: the layer defines and exports the runtime's state (the
# exception in flight, the new and terminate handlers), and no program or
# library loaded with it needs libstdc++.so.6 or has a copy of that state.
# (Tools that do not use the layer carry their own runtime.)
# Usage: check-cxx-runtime.sh BIN_DIR
set -uo pipefail
dir=${1:?usage: check-cxx-runtime.sh BIN_DIR}
layer=$dir/libqxplatform.so
state=(__cxa_get_globals __cxa_allocate_exception _ZSt15set_new_handlerPFvvE _ZSt13set_terminatePFvvE
  _ZNSt6locale7classicEv)
pattern=$(IFS='|'; echo "${state[*]}")
status=0
if [ ! -f "$layer" ]; then
  echo "FAIL: $layer is missing; build the suite first" >&2
  exit 1
fi
exported=$(nm -D --defined-only "$layer")
for name in "${state[@]}"; do
  if ! grep -qE " [TDB] $name\$" <<<"$exported"; then
    echo "FAIL libqxplatform.so: does not export $name; the C++ runtime must be linked into the layer" \
      "and named in platform/qxplatform.map" >&2
    status=1
  fi
done
# One binary: prints "checked" when it loads the layer, a FAIL line for each
# fault (standard error), and ends non-zero on a fault.
check_one() {
  local file=$1 name needed copies bad=0
  [ -f "$file" ] || return 0
  [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || return 0
  name=$(basename "$file")
  needed=$(readelf -d "$file" 2>/dev/null | grep NEEDED || true)
  # Loaded into a process of the layer: it needs the layer, the drawing half or the sound library.
  [ "$file" = "$layer" ] || grep -qE '\[libqx(platform|draw|winmm)\.so\]' <<<"$needed" || return 0
  echo checked
  if grep -q '\[libstdc++' <<<"$needed"; then
    echo "FAIL $name: needs libstdc++.so.6, a second C++ runtime; link it with the suite's rules" \
      "(cmake/QxCommon.cmake: -static-libstdc++)" >&2
    bad=1
  fi
  [ "$file" = "$layer" ] && return $bad
  copies=$(nm -p --defined-only "$file" 2>/dev/null | grep -E " [TDB] ($pattern)\$" || true)
  if [ -n "$copies" ]; then
    echo "FAIL $name: has its own copy of the C++ runtime's state:" >&2
    echo "$copies" >&2
    bad=1
  fi
  return $bad
}
export -f check_one
export layer pattern
# The binaries are read side by side: a sanitizer build's are large, and one
# after another they took two minutes on a busy machine.
results=$(printf '%s\0' "$dir"/* | xargs -0 -P "$(nproc)" -n 1 bash -c 'check_one "$1"' _) || status=1
checked=$(grep -c '^checked$' <<<"$results")
if [ "$checked" -lt 2 ]; then
  echo "FAIL: no binaries found in $dir; build the suite first" >&2
  exit 1
fi
[ $status -eq 0 ] && echo "ok: $checked binaries that load the layer share its C++ runtime"
exit $status
