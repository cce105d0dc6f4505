#!/usr/bin/env bash
# --help and --version answer without a display, a network or a settings file,
# and anything else on the command line is refused before the program starts.
#
#   command_line.sh PROGRAM VERSION
set -uo pipefail
PROGRAM="$1"
VERSION="$2"
HOME_DIR="$(mktemp -d /tmp/murmex3-cli.XXXXXX)"
trap 'rm -rf "$HOME_DIR"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# No display at all: a program that made its window system connection would abort.
run() { env -i PATH="$PATH" HOME="$HOME_DIR" QT_QPA_PLATFORM=xcb timeout 20 "$PROGRAM" "$@"; }

out="$(run --version)" || fail "--version ended with $?"
[ "$out" = "murmex3 $VERSION" ] || fail "--version printed '$out'"
for option in --help -h; do
    out="$(run "$option")" || fail "$option ended with $?"
    [ "$(head -1 <<<"$out")" = "Usage: murmex3 [options]" ] || fail "$option printed '$out'"
    grep -q -- "--version" <<<"$out" || fail "$option does not mention --version"
done
[ -z "$(ls -A "$HOME_DIR")" ] || fail "the settings folder was touched: $(ls -A "$HOME_DIR")"

# An unknown option ends the program at once, with the reason on standard error.
err="$(env -i PATH="$PATH" HOME="$HOME_DIR" QT_QPA_PLATFORM=offscreen \
    timeout 20 "$PROGRAM" --bogus 2>&1 >/dev/null)"
status=$?
[ "$status" -eq 1 ] || fail "--bogus ended with $status"
grep -q "bogus" <<<"$err" || fail "--bogus said '$err'"
echo "PASS"
