#!/bin/sh
# The two set-up commands for a fresh Debian 12 machine:
#   ./make.sh run    builds the program and starts it
#   ./make.sh test   builds with sanitizers and runs every test
# It installs the packages the build needs (make among them) and then hands
# over to the Makefile, which takes any of its targets.
set -e
cd "$(dirname "$0")"
bash scripts/install-deps.sh
exec make "$@"
