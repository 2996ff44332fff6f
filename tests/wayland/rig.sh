#!/usr/bin/env bash
# A private PipeWire with one video producer and the stand-in ScreenCast portal, on the session bus
# this runs in and in the runtime dir it is given ($XDG_RUNTIME_DIR or --runtime-dir).
#
#   rig.sh [--runtime-dir DIR] [--node-name NAME] [--format BGRx] [--size 640x360] [--framerate 30]
#          [--pattern ball] [-- PORTAL_OPTIONS...]
#
# Standard output, one line per event:
#   ready node=<id> size=<W>x<H>   everything is up
#   producer stopped               after SIGUSR1 (or the producer died)
#   producer node=<id>             after SIGUSR2 started it again
# SIGTERM/SIGINT stop everything; children die with the rig even when it is killed outright.
# The children's output goes to <runtime dir>/rig-logs/.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
runtime_dir=${XDG_RUNTIME_DIR:-}
node_name=ferrovane-test-source
format=BGRx size=640x360 framerate=30 pattern=ball
portal_args=()
while [ $# -gt 0 ]; do
  case $1 in
    --runtime-dir) runtime_dir=$2; shift 2 ;;
    --node-name) node_name=$2; shift 2 ;;
    --format) format=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --framerate) framerate=$2; shift 2 ;;
    --pattern) pattern=$2; shift 2 ;;
    --) shift; portal_args=("$@"); break ;;
    *) echo "rig: unknown option $1" >&2; exit 2 ;;
  esac
done
rig_name=rig
# shellcheck source=rig_common.sh
. "$here/rig_common.sh"
[[ $size =~ ^([0-9]+)x([0-9]+)$ ]] || fail "--size wants WIDTHxHEIGHT"
width=${BASH_REMATCH[1]} height=${BASH_REMATCH[2]}

cleanup() {
  trap - TERM INT HUP USR1 USR2 EXIT
  for name in portal producer wireplumber pipewire; do stop "$name"; done
}
trap 'cleanup; exit 0' TERM INT HUP
trap cleanup EXIT
trap : USR1 USR2 # until ready; their default would kill us

node_id() { # prints the id of our node, fails while there is none
  pw-dump 2>/dev/null | /usr/bin/python3 -c '
import json, sys
for o in json.load(sys.stdin):
    if o["type"].startswith("PipeWire:Interface:Node") and (o.get("info") or {}).get("props", {}).get("node.name") == sys.argv[1]:
        print(o["id"]); break
else:
    sys.exit(1)' "$node_name"
}
frame_arrives() { # a consumer linked by the session manager gets a frame from our node
  local id
  id=$(node_id) && timeout 5 gst-launch-1.0 -q pipewiresrc path="$id" num-buffers=1 \
    stream-properties=props,media.type=Video ! fakesink >/dev/null 2>&1
}
producer_alive() { [ -n "${pids[producer]:-}" ] && kill -0 "${pids[producer]}" 2>/dev/null; }
while_alive() { # seconds command...: poll while the producer lives
  local tries=$(($1 * 10)); shift
  for _ in $(seq "$tries"); do producer_alive || return 1; "$@" && return 0; sleep 0.1; done
  return 1
}
start_producer() {
  # pipewiresink (PipeWire 0.3.65) has two faults we step around. Frames drawn into its buffer
  # pool while no consumer is linked are never handed back, and after a few of them it stalls for
  # good: identity keeps videotestsrc out of that pool. A consumer that links before the first
  # frame is rendered can leave the pool unusable and crash it: we let it render first, and start
  # it again should it die anyway (-f: die rather than hang in GStreamer's fault handler).
  for _ in 1 2 3; do
    spawn producer gst-launch-1.0 -f videotestsrc pattern="$pattern" is-live=true \
      ! "video/x-raw,format=$format,width=$width,height=$height,framerate=$framerate/1" \
      ! identity drop-allocation=true ! pipewiresink mode=provide \
      stream-properties="props,media.class=Video/Source,node.name=$node_name"
    # The node alone is not enough: WirePlumber must know it before it links a consumer to it.
    while_alive 10 node_id >/dev/null && sleep 0.5 && while_alive 20 frame_arrives && return 0
    stop producer
  done
  give_up "a frame from node $node_name"
}
on_stop_producer() { stop producer; echo "producer stopped"; }
on_start_producer() { [ -n "${pids[producer]:-}" ] || { start_producer; echo "producer node=$(node_id)"; }; }

start_pipewire
start_producer
spawn portal /usr/bin/python3 "$here/screencast_portal.py" --node-name "$node_name" "${portal_args[@]}"
wait_for 15 "the portal on the bus" on_bus org.freedesktop.portal.Desktop
trap on_stop_producer USR1
trap on_start_producer USR2
echo "ready node=$(node_id) size=${width}x${height}"

while :; do
  wait -n
  for name in pipewire wireplumber portal; do
    kill -0 "${pids[$name]}" 2>/dev/null || fail "$name exited (see $logs/$name.log)"
  done
  if [ -n "${pids[producer]:-}" ] && ! kill -0 "${pids[producer]}" 2>/dev/null; then
    unset "pids[producer]"
    echo "producer stopped"
  fi
done
