#!/usr/bin/env bash
# Ctrl-C in a batch: ends a .wait and a .notify, breaks a waiting command
# (which reads "interrupted" with where the deck is, not "ok"), and stops the
# batch with exit status 130.
# usage: ctrl_c.sh VTRCTL
set -u
vtrctl=$1
fail=0
while IFS='|' read -r line expected; do
  start=$(date +%s%N)
  "$vtrctl" --sim -e "open vcr alias tape" -e "$line" -e "status tape mode" > out.txt 2>&1 &
  pid=$!
  # Interrupt once the batch has reached the line.
  for _ in $(seq 100); do grep -q "open vcr alias tape -> " out.txt && break; sleep 0.1; done
  sleep 0.5
  kill -INT "$pid"
  wait "$pid"
  status=$?
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  if [ "$status" -ne 130 ] || [ "$ms" -ge 20000 ] || grep -q "status tape mode" out.txt ||
     ! grep -Eq "^$expected\$" out.txt; then
    echo "FAIL: '$line': exit $status after $ms ms"; cat out.txt; fail=1
  else
    echo "ok: '$line' interrupted, exit 130 after $ms ms"
  fi
done <<'ROWS'
.wait 30000|\.wait 30000 -> interrupted
.notify 30000|\.notify 30000 -> interrupted
seek tape to 90000 wait|seek tape to 90000 wait -> interrupted at [0-9:]{11} \([0-9]+\)
ROWS
rm -f out.txt
exit $fail
