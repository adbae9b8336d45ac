#!/usr/bin/env bash
# vtrctl's .watch on a real terminal (tmux): the timecode on the screen
# advances while the virtual deck plays, a key ends the watch; a waiting seek
# shows a progress line.
# Usage: watch_test.sh VTRCTL   (exit 77: skipped)
set -euo pipefail
vtrctl=$1
command -v tmux >/dev/null || { echo "SKIP: tmux is not installed"; exit 77; }
export TMUX_TMPDIR=$(mktemp -d)
session=vtrwatch$$
trap 'tmux kill-server 2>/dev/null || true; rm -rf "$TMUX_TMPDIR"' EXIT
tmux -f /dev/null new-session -d -s $session -x 120 -y 20 "HOME=$TMUX_TMPDIR $vtrctl --sim"
screen() { tmux capture-pane -p -t $session; }
# Waits up to 30 s for the screen to match an extended regular expression.
await() {
  for _ in $(seq 300); do screen | grep -Eq "$1" && return 0; sleep 0.1; done
  echo "screen never showed /$1/:"; screen; exit 1
}
timecode() { screen | grep -Eo '^tape  [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{2}' | tail -1 | cut -c7-; }
tmux send-keys -t $session 'open vcr alias tape' Enter
await 'open vcr alias tape -> 1'
tmux send-keys -t $session 'play tape to 20000 notify' Enter
await 'play tape to 20000 notify -> ok'
tmux send-keys -t $session '.watch tape' Enter
await '^tape  [0-9:]{11}  playing  speed [0-9]+  owed: play tape to 20000 notify'
first=$(timecode)
sleep 1.5
second=$(timecode)
echo "timecode $first -> $second"
[[ "$second" > "$first" ]] || { echo "timecode did not advance"; screen; exit 1; }
tmux send-keys -t $session q
tmux send-keys -t $session 'stop tape' Enter
await 'stop tape -> ok'
await 'notify superseded: play tape to 20000 notify'
# A waiting seek shows its progress in place, then its result.
tmux send-keys -t $session 'seek tape to 3000 wait' Enter
await '^  tape position [0-9]+ -> 3000'
await 'seek tape to 3000 wait -> ok'
