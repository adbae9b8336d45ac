#!/usr/bin/env bash
# vtrctl at the prompt, on a real terminal (tmux): the greeting, help, Tab by
# context, a notification printed above a redrawn prompt with the line being
# typed, Ctrl-C during a wait ("interrupted at" where the deck is), .watch
# (the timecode advances while the deck plays, a key ends it) and a waiting
# seek's progress line. Then --trace times never go backwards.
# Usage: console_test.sh VTRCTL   (exit 77: skipped)
set -euo pipefail
vtrctl=$1
command -v tmux >/dev/null || { echo "SKIP: tmux is not installed"; exit 77; }
export TMUX_TMPDIR=$(mktemp -d)
session=vtrctl$$
trap 'tmux kill-server 2>/dev/null || true; rm -rf "$TMUX_TMPDIR"' EXIT
tmux -f /dev/null new-session -d -s $session -x 120 -y 40 "HOME=$TMUX_TMPDIR $vtrctl --sim"
screen() { tmux capture-pane -p -t $session | grep -v '^$' || true; }
keys() { tmux send-keys -t $session "$@"; }
# Waits up to 30 s for the screen to match an extended regular expression.
await() {
  for _ in $(seq 300); do screen | grep -Eq "$1" && return 0; sleep 0.1; done
  echo "screen never showed /$1/:"; screen; exit 1
}
last() { screen | tail -1; }
await '^vtrctl [0-9.]+: type help for the commands'
keys 'help' Enter
await "^  the library's own: break close open sysinfo"
keys 'open vcr alias tape' Enter
await 'open vcr alias tape -> 1'
# Tab by context: a status item, the set items, after a command the aliases.
keys 'status tape posi' Tab
await '^vtr> status tape position ?$'
keys C-u 'set tape ' Tab Tab
await 'door .*tracking'
screen | tail -4 | grep -q 'position' && { echo "set offered a status item"; screen; exit 1; }
keys C-u 'seek ta' Tab
await '^vtr> seek tape ?$'
# A notification at the prompt: printed above it, the typed line redrawn.
keys C-u 'play tape from 300 to 330 notify' Enter
await 'play tape from 300 to 330 notify -> ok'
keys 'status tape'
await 'notify successful: play tape from 300 to 330 notify'
[ "$(last)" = "vtr> status tape" ] || { echo "prompt not redrawn:"; screen; exit 1; }
# Ctrl-C during a wait: interrupted, with where the deck is; the deck stops.
keys C-u 'seek tape to 90000 wait' Enter
await '^  tape position [0-9]+ -> 90000'
keys C-c
await '^seek tape to 90000 wait -> interrupted at [0-9]{2}:[0-9:]{8} \([0-9]+\)$'
keys 'status tape mode' Enter
await '^status tape mode -> (stopped|paused)$'
# .watch: the timecode advances while the deck plays; a key ends it.
timecode() { screen | grep -Eo '^tape  [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{2}' | tail -1 | cut -c7-; }
keys 'play tape to 20000 notify' Enter
await 'play tape to 20000 notify -> ok'
keys '.watch tape' Enter
await '^tape  [0-9:]{11}  playing  speed [0-9]+  owed: play tape to 20000 notify'
first=$(timecode)
sleep 1.5
second=$(timecode)
[[ "$second" > "$first" ]] || { echo "timecode did not advance: $first -> $second"; screen; exit 1; }
keys q
keys 'stop tape' Enter
await 'notify superseded: play tape to 20000 notify'
# A waiting seek shows its progress in place, then its result.
keys 'seek tape to 3000 wait' Enter
await '^  tape position [0-9]+ -> 3000'
await 'seek tape to 3000 wait -> ok'
keys 'quit' Enter
# --trace: in time order, whatever order the deck noted its blocks in.
"$vtrctl" --sim --trace -e "open vcr alias tape" -e "play tape from 300 to 330 wait" -e "close tape" |
  awk '/^ +[0-9]+\.[0-9]+ ms/ { t = $1 + 0; if (t < prev) { print "backwards: " prev " then " t; bad = 1 } prev = t }
       END { exit bad }'
echo "console ok"
