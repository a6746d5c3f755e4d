#!/usr/bin/env bash
# The package as a user installs it: builds the .deb (scripts/package.sh), checks it with
# lintian and its AppStream data with appstreamcli, installs it with apt-get, downloads from
# the simulated unit with the installed vantrel-download, starts VantrelPC offscreen and ends
# it, then purges the package and checks that nothing of it is left in /usr.
# It installs into this system (as root, or through sudo): run it on a machine for that (CI).
# The build folder: build-package, or the one given.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
started=$SECONDS
build=${1:-build-package}
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -q)
fail() {
  echo "test-package: $*" >&2
  exit 1
}
step() { echo "== $*"; }

if dpkg-query -W -f='${Status}' vantrel-pc 2>/dev/null | grep -q installed; then
  fail "vantrel-pc is installed already; this test would remove it (apt-get purge vantrel-pc)"
fi
scripts/package.sh "$build"
deb=$(readlink -f "$build"/vantrel-pc_*.deb)
[ -f "$deb" ] || fail "no package was made"

step "lintian $(basename "$deb")"
lintian --fail-on error,warning "$deb"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
step "appstreamcli validate"
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml

# Every file and link of the package; the folders it shares with others are not its own.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print substr($0, index($0, "./") + 1)}' |
  sed 's/ -> .*//' >"$work/files"
ours() { find /usr \( -iname '*vantrel*' -o -name 'VNPC*' -o -name '70-vantrel-pc.rules' \) 2>/dev/null | sort; }
ours >"$work/before"

step "apt-get install ./$(basename "$deb")"
trap '"${apt[@]}" purge vantrel-pc >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
(cd "$(dirname "$deb")" && "${apt[@]}" install "./$(basename "$deb")")
while read -r file; do [ -e "$file" ] || [ -L "$file" ] || fail "not installed: $file"; done <"$work/files"

# As a user would: only the installed programs on PATH, a home of its own, a port no test uses.
user_env=(env -i "HOME=$work/home" PATH=/usr/bin:/bin VANTREL_NONINTERACTIVE=1)
mkdir -p "$work/home"
step "vantrel-download --demo --all --json"
"${user_env[@]}" VANTREL_SIM_ARGS="--port 147 --days 3" /usr/bin/vantrel-download --demo --all \
  --json >"$work/result.json" || fail "vantrel-download exited with $?: $(cat "$work/result.json")"
python3 - "$work/result.json" "$work/home/.local/share/vantrel-pc-demo/Data/VU/" <<'PYTHON'
import json, os, sys
result = json.load(open(sys.argv[1]))
assert result["status"] == "Complete", result
assert len(result["files"]) == 1, result
path, size = result["files"][0]["path"], result["files"][0]["size"]
assert path.startswith(sys.argv[2]) and path.endswith(".DDD"), path
assert os.path.getsize(path) == size > 0, (path, size)
# A vehicle unit's file begins with the overview's answer: 76 01 (or 76 21, 76 31 later).
with open(path, "rb") as ddd:
    head = ddd.read(2)
assert head[0] == 0x76 and head[1] in (0x01, 0x21, 0x31), head.hex()
print("saved:", path, size, "bytes")
PYTHON

step "VantrelPC offscreen"
"${user_env[@]}" QT_QPA_PLATFORM=offscreen /usr/bin/VantrelPC >"$work/window.log" 2>&1 &
window=$!
sleep 3
kill -0 "$window" 2>/dev/null || { cat "$work/window.log" >&2; fail "VantrelPC ended by itself"; }
[ -f "$work/home/.local/share/Fenwright/Vantrel PC/Settings.ini" ] ||
  fail "VantrelPC did not load its settings"
kill -TERM "$window"
status=0
wait "$window" || status=$?
# 143: ended by the SIGTERM sent, not by a crash of its own.
[ "$status" -eq 143 ] || { cat "$work/window.log" >&2; fail "VantrelPC ended with $status"; }

step "apt-get purge vantrel-pc"
"${apt[@]}" purge vantrel-pc
while read -r file; do
  [ -e "$file" ] || [ -L "$file" ] && fail "left after purge: $file"
done <"$work/files"
ours >"$work/after"
diff "$work/before" "$work/after" >&2 || fail "left in /usr after purge (above)"
echo "test-package: passed in $((SECONDS - started)) s"
