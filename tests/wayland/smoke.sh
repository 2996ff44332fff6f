#!/usr/bin/env bash
# Checks the rig by hand: a private session bus and runtime dir, the rig, and smoke_client.py as
# the portal's client. Prints one line per check and ends with "N passed, N failed".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ -z "${SMOKE_IN_PRIVATE_BUS:-}" ]; then
  SMOKE_IN_PRIVATE_BUS=1 exec dbus-run-session -- "$0" "$@"
fi

runtime=$(mktemp -d /tmp/ferrovane-wayland-smoke.XXXXXX)
export XDG_RUNTIME_DIR=$runtime
rig_pid=
finish() {
  [ -z "$rig_pid" ] || { kill -TERM "$rig_pid" 2>/dev/null; wait "$rig_pid" || true; }
  rm -rf "$runtime"
}
trap finish EXIT

"$here/rig.sh" "$@" >"$runtime/rig.out" &
rig_pid=$!
for _ in $(seq 300); do
  grep -q '^ready ' "$runtime/rig.out" && break
  kill -0 "$rig_pid" 2>/dev/null || { echo "the rig failed" >&2; exit 1; }
  sleep 0.1
done
ready=$(grep '^ready ' "$runtime/rig.out") || { echo "the rig never got ready" >&2; exit 1; }
echo "$ready"
node=$(sed -n 's/.* node=\([0-9]*\).*/\1/p' <<<"$ready")
/usr/bin/python3 "$here/smoke_client.py" "$rig_pid" "$runtime/rig.out" "$node"
