#!/usr/bin/env bash
# Installing rpcbind (for rpcinfo) may start Debian's portmapper on port 111.
# The NFS server's tests run it in network namespaces of their own, so nothing
# clashes, but a machine set up for the suite should not keep a second
# portmapper: stop it through the service manager that started it.
set -uo pipefail
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet rpcbind 2>/dev/null; then
  systemctl stop rpcbind.socket rpcbind.service || echo "setup: could not stop rpcbind; stop it with: systemctl stop rpcbind" >&2
elif [ -x /etc/init.d/rpcbind ] && /etc/init.d/rpcbind status >/dev/null 2>&1; then
  /etc/init.d/rpcbind stop >/dev/null || echo "setup: could not stop rpcbind; stop it with: /etc/init.d/rpcbind stop" >&2
fi
exit 0
