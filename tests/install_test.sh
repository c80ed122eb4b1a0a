#!/bin/sh
# Installs the build into a temporary prefix and runs the installed program from another
# directory: it must find its engine and plug-in, and the manual page must be there. No run
# path, built or installed, may have an empty entry: the loader reads one as the current
# directory, and would load a library of that name from wherever the program is run.
set -eu
build="$1"
capture="$2"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for elf in "$build"/bin/tdsdecode "$build"/bin/*.so "$prefix"/bin/tdsdecode "$prefix"/lib/tdsdecode/*.so; do
  runpath="$(readelf -d "$elf" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')"
  case ":$runpath:" in
  *::*)
    echo "$elf: empty entry in run path '$runpath'" >&2
    exit 1
    ;;
  esac
done
cd /
"$prefix/bin/tdsdecode" --version >/dev/null
"$prefix/bin/tdsdecode" --requests "$capture" | grep -q "login"
test -s "$prefix/share/man/man1/tdsdecode.1"
test -s "$prefix/share/bash-completion/completions/tdsdecode"
echo "installed program runs from $prefix"
