#!/usr/bin/env bash
# pavo-screenshot against reader-sim in a scratch directory: a picture after a single read,
# after a UID reading and of the window as it opens; none without a reading, and a usage
# error without a file.
# usage: screenshot_test.sh PAVO_SCREENSHOT READER_SIM
set -u
shot=$1 sim=$2
work=$(mktemp -d)
cd "$work" || exit 1
"$sim" --interval 100 --frame-gap 60000 >sim.txt 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  echo "--- simulator trace"; tail -n 20 "$work/sim.txt"
  exit 1
}
# The reader's link, waited for with a limit only a fault reaches.
for _ in $(seq 600); do [ -e COM1 ] && break; sleep 0.05; done
[ -e COM1 ] || fail "reader-sim made no COM1: $(cat sim.txt)"
# A reply that misses its 500 ms on a heavily loaded machine is no reading, rightly; only
# a fault makes every try fail.
for _ in $(seq 20); do "$shot" --start start.png && break; done
[ -e start.png ] || fail "--start"
"$shot" --uid uid.png || fail "--uid"
"$shot" plain.png || fail "without a reading"
for f in start.png uid.png plain.png; do
  [ "$(head -c 8 $f | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$f is no PNG"
done
cmp -s start.png plain.png && fail "the reading is not in the picture"
"$shot" 2>/dev/null
[ $? = 2 ] || fail "no usage error without a file"
# No reader: COM1 leads nowhere (without the entry it would be the machine's own ttyS0).
mkdir idle && cd idle && ln -s /dev/pts/unplugged COM1 || exit 1
"$shot" --start none.png 2>/dev/null
[ $? = 1 ] || fail "no failure without a reader"
[ ! -e none.png ] || fail "a file without a reading"
echo "screenshots: all cases passed"
