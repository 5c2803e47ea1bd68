#!/usr/bin/env bash
# The guard around every Windows test entry: a test program that Wine never started, or that ran
# no test, fails its entry however the runner exits; one that ran its tests passes.
#   wine_guard_test.sh SOURCE_DIR TEST_PROGRAM.exe
# TEST_PROGRAM is a small GoogleTest program of this build tree.
set -uo pipefail
src=$1 prog=$2
tools=$src/tools
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# A Wine that cannot load the program: bookworm's 64-bit-only Wine handed a 32-bit program prints
# nothing without WINEDEBUG and exits 0; this one does the same for every program.
mkdir -p "$scratch/silent-wine"
printf '#!/bin/sh\nexit 0\n' >"$scratch/silent-wine/wine"
printf '#!/bin/sh\nexit 0\n' >"$scratch/silent-wine/wineserver"
# One that prints a passing result it never earned and fails.
mkdir -p "$scratch/lying-wine"
printf '#!/bin/sh\necho "[==========] 1 test from 1 test suite ran."\necho "[  PASSED  ] 1 test."\nexit 3\n' >"$scratch/lying-wine/wine"
cp "$scratch/silent-wine/wineserver" "$scratch/lying-wine/"
chmod +x "$scratch"/*/wine*
printf 'not a program\n' >"$scratch/plain.exe"

machine=$(od -An -tx1 -j"$(od -An -tu4 -j60 -N4 "$prog" | tr -d ' ')" -N6 "$prog" | tr -d ' ')
if [ "$machine" = 504500004c01 ] && ! "$tools/sid-root" gate 2>/dev/null; then
  real_expect=fail   # a 32-bit program where 32-bit code cannot run
else
  real_expect=pass
fi

failures=0 passed=0
# name | Wine (empty: the tree's own) | own build dir | program | arguments | expected
while IFS='|' read -r name wine own program args expect; do
  [ -n "$name" ] || continue
  dir=$MORVANE_BUILD_DIR
  [ "$own" = yes ] && dir=$scratch/tree-$passed-$failures && mkdir -p "$dir"
  # shellcheck disable=SC2086
  if env ${wine:+WINE=$wine/wine WINESERVER=$wine/wineserver} MORVANE_BUILD_DIR="$dir" \
      "$tools/gtest-check" "$tools/wine-run" "$program" $args >"$scratch/out" 2>&1; then
    got=pass
  else
    got=fail
  fi
  if [ "$got" = "$expect" ]; then
    echo "ok: $name ($got)"
    passed=$((passed + 1))
  else
    echo "FAILED: $name: expected $expect, got $got; its output:"
    sed 's/^/    /' "$scratch/out"
    failures=$((failures + 1))
  fi
done <<TABLE
a Wine that cannot load the program and exits 0|$scratch/silent-wine|yes|$prog||fail
a runner that prints a result and exits non-zero|$scratch/lying-wine|yes|$prog||fail
a file that is no Windows program||no|$scratch/plain.exe||fail
the program with a filter that selects no test||no|$prog|--gtest_filter=NoSuchSuite.NoSuchTest|fail
the program under this tree's Wine||no|$prog||$real_expect
TABLE
echo "$passed passed, $failures failed"
[ "$failures" = 0 ]
