#!/bin/sh
# Installs the build into a temporary prefix and runs the installed program from another
# directory: it must find its engine and plug-in, and the manual page must be there.
set -eu
build="$1"
capture="$2"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
cd /
"$prefix/bin/tdsdecode" --version >/dev/null
"$prefix/bin/tdsdecode" --requests "$capture" | grep -q "login"
test -s "$prefix/share/man/man1/tdsdecode.1"
test -s "$prefix/share/bash-completion/completions/tdsdecode"
echo "installed program runs from $prefix"
