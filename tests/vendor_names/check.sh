#!/usr/bin/env bash
# Checks that every decorated name the binding looks up is the name the card
# makers' compiler gives that entry, and that each reads back as the member it
# is meant to be.
set -euo pipefail
names_program=$1
declarations=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clang++ --target=i686-pc-windows-msvc -c "$declarations" -o "$work/declarations.obj"
llvm-nm "$work/declarations.obj" | sed -n 's/^ *U __imp_//p' | sort > "$work/compiler"
"$names_program" | sort > "$work/binding"
if ! diff -u "$work/compiler" "$work/binding"; then
  echo "binding names differ from the compiler's (- compiler, + binding)" >&2
  exit 1
fi
while read -r name; do
  printf '%-72s %s\n' "$name" "$(llvm-undname "$name" | sed -n 2p)"
done < "$work/binding"
echo "$(wc -l < "$work/binding") names checked"
