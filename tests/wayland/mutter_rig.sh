#!/usr/bin/env bash
# Headless mutter as the Wayland desktop: a private PipeWire and WirePlumber, mutter with one virtual
# monitor, a client that keeps the whole monitor moving, and the stand-in portal sharing that monitor
# through mutter's own ScreenCast; on the session bus this runs in and in the runtime dir it is given.
#
#   mutter_rig.sh [--runtime-dir DIR] [--size 1280x720] [-- PORTAL_OPTIONS...]
#
# Standard output: "ready size=<W>x<H>" once everything is up. SIGTERM/SIGINT stop everything;
# children die with the rig even when it is killed outright. Their output goes to <runtime dir>/rig-logs/.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
runtime_dir=${XDG_RUNTIME_DIR:-}
size=1280x720
portal_args=()
while [ $# -gt 0 ]; do
  case $1 in
    --runtime-dir) runtime_dir=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --) shift; portal_args=("$@"); break ;;
    *) echo "mutter rig: unknown option $1" >&2; exit 2 ;;
  esac
done
rig_name="mutter rig"
# shellcheck source=rig_common.sh
. "$here/rig_common.sh"
[[ $size =~ ^([0-9]+)x([0-9]+)$ ]] || fail "--size wants WIDTHxHEIGHT"
width=${BASH_REMATCH[1]} height=${BASH_REMATCH[2]}
export WAYLAND_DISPLAY=wayland-0 XDG_CONFIG_HOME=$config XDG_STATE_HOME=$state
unset DISPLAY

names=(pipewire wireplumber mutter client portal)
cleanup() {
  trap - TERM INT HUP EXIT
  for ((i = ${#names[@]} - 1; i >= 0; i--)); do stop "${names[i]}"; done
}
trap 'cleanup; exit 0' TERM INT HUP
trap cleanup EXIT

start_pipewire
# Without a GPU mutter renders with llvmpipe on a surfaceless EGL display and shares SHM buffers only.
spawn mutter mutter --headless --wayland --no-x11 --wayland-display "$WAYLAND_DISPLAY" \
  --virtual-monitor "$size"
wait_for 20 "mutter's ScreenCast" on_bus org.gnome.Mutter.ScreenCast
wait_for 5 "mutter's Wayland socket" test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY"
# Colour bars that scroll sideways, full screen: every frame differs everywhere, and the bars' order
# tells a swapped channel apart. wl_shm buffers, so no GPU needed. waylandsink 1.22 logs a CRITICAL
# for fullscreen=true set before its window exists; it applies it when it makes the window.
spawn client gst-launch-1.0 -f videotestsrc pattern=smpte horizontal-speed=8 is-live=true \
  ! "video/x-raw,width=$width,height=$height,framerate=30/1" ! waylandsink fullscreen=true
# GStreamer names the pipeline's clock once it plays, having reached the compositor.
wait_for 15 "the client to play" grep -q '^New clock' "$logs/client.log"
spawn portal /usr/bin/python3 "$here/screencast_portal.py" --mutter "${portal_args[@]}"
wait_for 15 "the portal on the bus" on_bus org.freedesktop.portal.Desktop
echo "ready size=${width}x${height}"

while :; do
  wait -n
  for name in "${names[@]}"; do
    kill -0 "${pids[$name]}" 2>/dev/null || fail "$name exited (see $logs/$name.log)"
  done
done
