#!/usr/bin/env bash
# publish_readme_test.sh <source dir> <build dir>: runs the README's publishing
# commands (the first sh block of its section "Publishing a release:
# `scripts/publish`") exactly as written, in a scratch folder that holds a
# small release at the path the README names, with a home folder of its own
# (the host's ~/.wine, ~/.config and ~/.local cannot be touched), a free port
# and the test build. Passes when both checks say "ok:", the manifest is where
# the README says, every Wine process started with the address layout fixed,
# and nothing was written to the scratch home's .wine, .config or .local.
set -euo pipefail
source_dir=$1
build=$(cd "$2" && pwd)
work=$build/test-run/publish-readme
rm -rf "$work"
mkdir -p "$work/home" "$work/www/releases/1.4.2/data"
ln -s "$source_dir/scripts" "$work/scripts"

commands=$(awk '
  /^## Publishing a release: `scripts\/publish`/ { section = 1; next }
  section && /^## / { exit }
  section && /^```sh$/ { block = 1; next }
  block && /^```$/ { exit }
  block { print }' "$source_dir/README.md")
[ -n "$commands" ] || { echo "FAIL: no publishing commands found in README.md"; exit 1; }
printf 'README commands:\n%s\n' "$commands"

head -c 3000 /dev/urandom >"$work/www/releases/1.4.2/LanternbrookUpdater.exe"
head -c 70000 /dev/urandom >"$work/www/releases/1.4.2/data/mapa.bin"
printf 'Lanternbrook\r\n' >"$work/www/releases/1.4.2/leia-me.txt"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
stop_server() { "$source_dir/scripts/update-server" stop --port "$port" --state "$build/update-server" >/dev/null 2>&1 || true; }
trap stop_server EXIT

# Every Wine process that the commands start must have the address layout
# fixed (tests/support/fixed-layout): a `wine` ahead of the real one notes the
# personality it was started with, then runs the real one.
mkdir -p "$work/shim"
printf '#!/bin/sh\ncat /proc/self/personality >>"%s"\nexec "%s" "$@"\n' \
  "$work/wine-personality.log" "$(command -v wine)" >"$work/shim/wine"
chmod +x "$work/shim/wine"

status=0
(
  cd "$work"
  export PATH=$work/shim:$PATH
  export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
  export XDG_CACHE_HOME=$work/home/.cache LB_PUBLISH_BUILD_DIR=$build LB_PUBLISH_PORT=$port
  bash -euo pipefail -c "$commands"
) >"$work/output.log" 2>&1 || status=$?
cat "$work/output.log"
[ "$status" -eq 0 ] || { echo "FAIL: the README's commands ended with status $status"; exit 1; }
oks=$(grep -c '^ok: ' "$work/output.log" || true)
[ "$oks" -eq 2 ] || { echo "FAIL: expected 2 'ok:' lines (folder and server), got $oks"; exit 1; }
[ -s "$work/www/updates/manifest.json" ] || { echo "FAIL: no www/updates/manifest.json"; exit 1; }
starts=$(wc -l 2>/dev/null <"$work/wine-personality.log" || echo 0)
[ "$starts" -ge 4 ] || { echo "FAIL: expected 4 Wine starts or more, saw $starts"; exit 1; }
while read -r personality; do
  (( 0x$personality & 0x0040000 )) ||
    { echo "FAIL: a Wine process started with address randomization on (personality $personality)"; exit 1; }
done <"$work/wine-personality.log"
for written in .wine .config .local; do
  [ ! -e "$work/home/$written" ] || { echo "FAIL: the home folder got $written"; exit 1; }
done
if "$source_dir/scripts/update-server" status --port "$port" --state "$build/update-server" >/dev/null; then
  echo "FAIL: the server still runs after 'scripts/publish --stop'"; exit 1
fi
echo "PASS"
