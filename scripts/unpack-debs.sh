#!/usr/bin/env bash
# unpack-debs.sh DEST PACKAGE...: downloads Debian packages and unpacks each
# into DEST/PACKAGE without installing it, for test peers that Debian will not
# install beside another package (two FTP servers, LPRng beside CUPS). A
# package already unpacked there (DEST/PACKAGE/.unpacked) is left alone.
set -euo pipefail
dest=$1
shift
mkdir -p "$dest"
need=()
for p in "$@"; do
  [ -e "$dest/$p/.unpacked" ] || need+=("$p")
done
[ ${#need[@]} -eq 0 ] && exit 0
umask 022
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
cd "$work"
if ! apt-get download "${need[@]}" >/dev/null 2>&1; then
  apt-get update -qq
  apt-get download "${need[@]}" >/dev/null || {
    echo "setup: could not download ${need[*]} with apt-get; check the package mirror" >&2
    exit 1
  }
fi
for p in "${need[@]}"; do
  rm -rf "${dest:?}/$p"
  mkdir -p "$dest/$p"
  dpkg-deb -x "$p"_*.deb "$dest/$p"
  touch "$dest/$p/.unpacked"
  echo "setup: unpacked $p into $dest/$p"
done
