#!/bin/sh
# small-disk.sh SIZE DIR COMMAND [ARGUMENT...]
#
# Runs COMMAND with a tmpfs of SIZE (as mount takes it: 8m) on DIR, private to the user, in a mount
# namespace of its own: no privileges are needed and nothing outlives it. Prints "pid N" (COMMAND's process
# id) first; COMMAND's own output follows. Lines on standard input: "fill" fills DIR's file system, "free"
# empties it again. Ends with COMMAND, with its exit status.
set -eu
size=$1 dir=$2
shift 2
exec unshare --user --map-root-user --mount sh -c '
  set -eu
  size=$1 dir=$2
  shift 2
  mount -t tmpfs -o "size=$size,mode=0700" tmpfs "$dir"
  exec 3<&0
  "$@" </dev/null &
  child=$!
  echo "pid $child"
  while read -r command; do
    case $command in
      fill) cat /dev/zero >"$dir/.filler" 2>/dev/null || true; echo filled ;;
      free) rm -f "$dir/.filler"; echo freed ;;
    esac
  done <&3 &
  wait "$child"
' small-disk "$size" "$dir" "$@"
