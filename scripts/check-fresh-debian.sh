#!/usr/bin/env bash
# Checks the README's two commands on a fresh, minimal Debian 12 system: builds
# one with debootstrap in a folder, copies the committed sources in, and runs
# `./make.sh test` and `./make.sh run` there in a chroot (the program is left
# running for a while under the offscreen platform, then ended). Needs root.
#   scripts/check-fresh-debian.sh [WORKDIR]     (default /var/tmp/murmex3-fresh)
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "needs root (debootstrap, chroot)"; exit 2; }
REPO="$(cd "$(dirname "$0")/.." && pwd)"
WORK="${1:-/var/tmp/murmex3-fresh}"
ROOT="$WORK/root"
LOG="$WORK/check.log"
mkdir -p "$WORK"
: >"$LOG"

say() { echo "== $*" | tee -a "$LOG"; }

cleanup() {
    for m in run/netns run tmp/.X11-unix dev/pts dev sys proc; do
        mountpoint -q "$ROOT/$m" 2>/dev/null && umount -l "$ROOT/$m" || true
    done
    mountpoint -q "$ROOT" 2>/dev/null && umount -l "$ROOT" || true
}
trap cleanup EXIT

command -v debootstrap >/dev/null || apt-get install -y -qq debootstrap >>"$LOG" 2>&1

# The mirror this machine's own package sources use.
mirror="$(grep -hoE '^deb(-src)? +(\[[^]]*\] +)?https?://[^ ]+' /etc/apt/sources.list \
            /etc/apt/sources.list.d/*.list 2>/dev/null | grep -v security | head -1 |
          grep -oE 'https?://[^ ]+' || true)"
if [ -z "$mirror" ]; then
    mirror="$(grep -hoE '^URIs: +https?://[^ ]+' /etc/apt/sources.list.d/*.sources 2>/dev/null |
              grep -v security | head -1 | awk '{print $2}')"
fi
[ -n "$mirror" ] || { echo "no Debian mirror found in the apt sources"; exit 2; }

if [ ! -x "$ROOT/usr/bin/apt-get" ]; then
    say "debootstrap bookworm (minbase) into $ROOT"
    start=$(date +%s)
    debootstrap --variant=minbase bookworm "$ROOT" "$mirror" >>"$LOG" 2>&1
    say "debootstrap took $(( $(date +%s) - start )) s"
fi

say "copying the committed sources"
rm -rf "$ROOT/home/newcomer/murmex3"
mkdir -p "$ROOT/home/newcomer/murmex3"
git -C "$REPO" archive HEAD | tar -x -C "$ROOT/home/newcomer/murmex3"

# The root of a real machine is a mount point (network namespaces rely on
# it), and it has the usual host names.
mountpoint -q "$ROOT" || mount --bind "$ROOT" "$ROOT"
printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$ROOT/etc/hosts"
mount -t proc proc "$ROOT/proc"
mount --rbind /sys "$ROOT/sys"
mount --rbind /dev "$ROOT/dev"
mount -t tmpfs tmpfs "$ROOT/run"
mkdir -p "$ROOT/run/netns"
cp /etc/resolv.conf "$ROOT/etc/resolv.conf" 2>/dev/null || true

in_root() {
    chroot "$ROOT" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 bash -c "cd /home/newcomer/murmex3 && $*"
}

say "./make.sh test"
start=$(date +%s)
if in_root ./make.sh test >>"$LOG" 2>&1; then
    test_result="passed"
else
    test_result="FAILED"
fi
say "./make.sh test: $test_result in $(( $(date +%s) - start )) s"
grep -E 'tests passed|tests failed out of' "$LOG" | tail -2 | tee -a "$LOG"

say "./make.sh run (the program is left running for 20 s under the offscreen platform)"
start=$(date +%s)
in_root "QT_QPA_PLATFORM=offscreen HOME=/tmp ./make.sh run" >>"$LOG" 2>&1 &
runner=$!
program=""
for _ in $(seq 1 2400); do
    program=""
    # Only a copy inside this chroot: other copies on the machine are not ours.
    for pid in $(pgrep -x murmex3 || true); do
        if [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$(readlink -f "$ROOT")" ]; then
            program="$pid"
            break
        fi
    done
    [ -n "$program" ] && break
    kill -0 "$runner" 2>/dev/null || break
    sleep 1
done
run_result="FAILED (the program did not start)"
if [ -n "$program" ]; then
    sleep 20
    if kill -0 "$program" 2>/dev/null; then
        run_result="passed (the program was running 20 s after it started)"
        kill -TERM "$program"
    else
        run_result="FAILED (the program ended by itself)"
    fi
fi
wait "$runner" || true
say "./make.sh run: $run_result; $(( $(date +%s) - start )) s"

say "summary: test $test_result; run $run_result; log in $LOG"
[ "$test_result" = passed ] && [ "${run_result#passed}" != "$run_result" ]
