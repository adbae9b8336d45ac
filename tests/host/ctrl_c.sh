#!/usr/bin/env bash
# Ctrl-C ends a .wait, a .notify and an idle batch in vtrctl, with exit status 130.
# usage: ctrl_c.sh VTRCTL
set -u
vtrctl=$1
fail=0
for directive in ".wait 30000" ".notify 30000"; do
  start=$(date +%s%N)
  "$vtrctl" --sim -e "open vcr alias tape" -e "$directive" -e "status tape mode" > out.txt 2>&1 &
  pid=$!
  # Interrupt once the batch has reached the directive.
  for _ in $(seq 100); do grep -q "open vcr alias tape -> " out.txt && break; sleep 0.1; done
  sleep 0.3
  kill -INT "$pid"
  wait "$pid"
  status=$?
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  if [ "$status" -ne 130 ] || [ "$ms" -ge 20000 ] || grep -q "status tape mode" out.txt; then
    echo "FAIL: '$directive': exit $status after $ms ms"; cat out.txt; fail=1
  else
    echo "ok: '$directive' interrupted, exit 130 after $ms ms"
  fi
done
rm -f out.txt
exit $fail
