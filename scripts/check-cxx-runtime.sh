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
checked=0
for file in "$dir"/*; do
  [ -f "$file" ] || continue
  [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  name=$(basename "$file")
  needed=$(readelf -d "$file" 2>/dev/null | grep NEEDED || true)
  # Loaded into a process of the layer: it needs the layer, the drawing half or the sound library.
  [ "$file" = "$layer" ] || grep -qE '\[libqx(platform|draw|winmm)\.so\]' <<<"$needed" || continue
  checked=$((checked + 1))
  if grep -q '\[libstdc++' <<<"$needed"; then
    echo "FAIL $name: needs libstdc++.so.6, a second C++ runtime; link it with the suite's rules" \
      "(cmake/QxCommon.cmake: -static-libstdc++)" >&2
    status=1
  fi
  [ "$file" = "$layer" ] && continue
  copies=$(nm --defined-only "$file" 2>/dev/null | grep -E " [TDB] ($pattern)\$" || true)
  if [ -n "$copies" ]; then
    echo "FAIL $name: has its own copy of the C++ runtime's state:" >&2
    echo "$copies" >&2
    status=1
  fi
done
if [ "$checked" -lt 2 ]; then
  echo "FAIL: no binaries found in $dir; build the suite first" >&2
  exit 1
fi
[ $status -eq 0 ] && echo "ok: $checked binaries that load the layer share its C++ runtime"
exit $status
