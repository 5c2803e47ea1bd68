# Shared by the benches that race the program against curl and aria2c: the local stand-in, the
# wine set-up of a build tree, timing of a command and a check of the fetched bytes.
# Sourced after setting: root (the source tree), build (the build tree), work (a scratch folder).

bench_standin_pid=
bench_started_xvfb=

bench_cleanup() {
  [ -n "$bench_standin_pid" ] && kill "$bench_standin_pid" 2>/dev/null || true
  if [ -n "$bench_started_xvfb" ] && [ -f "$build/xvfb.pid" ]; then
    kill "$(cat "$build/xvfb.pid")" 2>/dev/null || true
    rm -f "$build/xvfb.pid"
  fi
  rm -rf "$work"
}

# Serves $work/root; sets base (the stand-in's address).
bench_start_standin() {
  python3 "$root/tools/standin/standin.py" --root "$work/root" --port-file "$work/ports.json" &
  bench_standin_pid=$!
  for _ in $(seq 100); do [ -f "$work/ports.json" ] && break; sleep 0.1; done
  local port
  port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["http"])' "$work/ports.json")
  base=http://127.0.0.1:$port
}

# Switches of the stand-in, as a JSON object.
bench_config() { curl -s -X POST -d "$1" "$base/_control/config" >/dev/null; }

# The direct link of a file in a folder of the stand-in.
bench_direct_link() {
  curl -s "$base/v1/disk/public/resources?public_key=https%3A%2F%2Fdisk.yandex.ru%2Fd%2F$1" |
    python3 -c 'import json,sys; print([i["file"] for i in json.load(sys.stdin)["_embedded"]["items"] if i["name"]==sys.argv[1]][0])' "$2"
}

# The build tree's wine prefix and display; exports WINE and friends.
bench_wine() {
  export MORVANE_BUILD_DIR=$build
  # shellcheck source=../tools/wine-env
  . "$root/tools/wine-env"
  [ -f "$build/xvfb.pid" ] || bench_started_xvfb=1
  morvane_ensure_display
  morvane_ensure_prefix
}

# Seconds and peak resident KiB of one command, from /usr/bin/time -v; its output goes to
# $work/cmd.out.
bench_measure() {
  local log=$work/time.log
  /usr/bin/time -v -o "$log" "$@" >"$work/cmd.out" 2>"$work/cmd.err" || { cat "$work/cmd.err" >&2; return 1; }
  local wall rss
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$log" |
    awk -F: '{ if (NF==3) print $1*3600+$2*60+$3; else print $1*60+$2 }')
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
  echo "$wall $rss"
}

# A copy of a program of the build tree without its debug sections, as it ships: Wine reads an
# unstripped image's debug sections into memory, some 9 MB of resident memory in the test build.
# Prints the copy's path (in $work).
bench_stripped() {
  local copy
  copy=$work/$(basename "$1")
  x86_64-w64-mingw32-strip -o "$copy" "$1"
  echo "$copy"
}

# aria2c with four connections, the peer of the four-part download; add -d <folder> -o <name> <link>.
bench_aria2c=(aria2c -q -x4 -s4 -k1M --allow-overwrite=true --auto-file-renaming=false)

# Says so when a fetched file is not the served one (sha256 given); removes it.
bench_check() {
  local got
  got=$(sha256sum <"$1" | cut -d' ' -f1)
  [ "$got" = "$2" ] || echo "  (content differs: $1)" >&2
  rm -f "$1"
}
