# Shared by rig.sh and mutter_rig.sh: a private PipeWire with WirePlumber in the runtime dir the rig is
# given, children that die with the rig, and waiting with the children's logs at hand. Source it after
# setting `rig_name` (for messages) and `runtime_dir`.

fail() { echo "$rig_name: $*" >&2; exit 1; }
[ -n "$runtime_dir" ] && [ -d "$runtime_dir" ] || fail "no runtime dir (set XDG_RUNTIME_DIR or --runtime-dir)"
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || fail "no session bus (DBUS_SESSION_BUS_ADDRESS)"

export XDG_RUNTIME_DIR=$runtime_dir
unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
logs=$XDG_RUNTIME_DIR/rig-logs
mkdir -p "$logs"
# Our own config and state homes: no user config, no remembered defaults between runs, and no
# device monitors (a machine's cameras and sound cards have no place in the tests).
config=$XDG_RUNTIME_DIR/rig-config
state=$XDG_RUNTIME_DIR/rig-state
mkdir -p "$config/wireplumber/main.lua.d" "$config/wireplumber/bluetooth.lua.d"
printf '%s\n' 'alsa_monitor.enabled = false' 'v4l2_monitor.enabled = false' \
  'libcamera_monitor.enabled = false' >"$config/wireplumber/main.lua.d/51-rig.lua"
echo 'bluez_monitor.enabled = false' >"$config/wireplumber/bluetooth.lua.d/51-rig.lua"

declare -A pids=()
# Each child gets SIGKILL if the rig dies without cleaning up.
spawn() { # name command...
  local name=$1; shift
  setpriv --pdeathsig KILL -- "$@" >>"$logs/$name.log" 2>&1 &
  pids[$name]=$!
}
stop() { # name: TERM, then KILL after 3 s
  local pid=${pids[$1]:-}
  [ -n "$pid" ] || return 0
  unset "pids[$1]"
  kill -TERM "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
  for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

poll() { # seconds command...: until the command succeeds, or return 1
  local tries=$(($1 * 10)); shift
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
  return 1
}
give_up() { # what: fail with the children's logs
  for log in "$logs"/*.log; do echo "--- $log" >&2; tail -n 20 "$log" >&2; done
  fail "timed out waiting for $1"
}
wait_for() { poll "$1" "${@:3}" || give_up "$2"; } # seconds what command...
on_bus() { # name
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

start_pipewire() {
  # A rig killed outright leaves its socket behind; a live daemon holds the lock.
  if [ -e "$XDG_RUNTIME_DIR/pipewire-0.lock" ]; then
    flock -n "$XDG_RUNTIME_DIR/pipewire-0.lock" true || fail "a PipeWire already serves $XDG_RUNTIME_DIR"
    rm -f "$XDG_RUNTIME_DIR/pipewire-0" "$XDG_RUNTIME_DIR/pipewire-0.lock"
  fi
  local home=(env XDG_CONFIG_HOME="$config" XDG_STATE_HOME="$state")
  spawn pipewire "${home[@]}" pipewire
  wait_for 10 "the PipeWire socket" test -S "$XDG_RUNTIME_DIR/pipewire-0"
  spawn wireplumber "${home[@]}" wireplumber
}
