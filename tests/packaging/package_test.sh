#!/usr/bin/env bash
# usage: package_test.sh SOURCE_DIR BUILD_DIR
# Packages the built BUILD_DIR with scripts/make-deb.sh and checks the package: its content
# list and control fields, the commands on the PATH finding the program folder (run from the
# unpacked package), and the unattended import's service command on a user data file, with a
# simulated unit that answers and with one whose reply is corrupt.
set -euo pipefail
src=$1
build=$2
for tool in dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not available (dpkg-dev)"; exit 77; }
done
export TZ=Asia/Tokyo
work=$(mktemp -d)
sim_pid=""
stop_sim() {
  if [[ -n "$sim_pid" ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
}
trap 'stop_sim; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" || fail "$what"; }

# --- The package and its content list.
deb=$("$src/scripts/make-deb.sh" --build-dir "$build" "$work/out" | tail -n 1)
version=$(sed -n 's/^project(yieldscope VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
arch=$(dpkg --print-architecture)
[[ "$deb" == "$work/out/yieldscope_${version}_${arch}.deb" && -f "$deb" ]] ||
  { echo "FAIL: no package yieldscope_${version}_${arch}.deb: $deb" >&2; exit 1; }

dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' >"$work/list"
outside=$(grep -v -e '^\./$' -e '^\./usr/' "$work/list" || true)
[[ -z "$outside" ]] || fail "files outside /usr: $outside"
expected=(
  "./usr/bin/yieldscope -> ../lib/yieldscope/yieldscope"
  "./usr/bin/yieldscope-cli -> ../lib/yieldscope/yieldscope-cli"
  "./usr/bin/monitor-sim -> ../lib/yieldscope/monitor-sim"
  "./usr/bin/qtxportd -> ../lib/yieldscope/qtxportd"
  ./usr/lib/yieldscope/{yieldscope,yieldscope-cli,gencalc,monitor-sim,qtxportd}
  ./usr/lib/yieldscope/{admin.ini,gencalc.ini,insolation.csv,insolation_range.csv,KEN_ALL.CSV,monitor_unit.ini}
  ./usr/lib/udev/rules.d/70-qtxportd.rules
  ./usr/lib/systemd/user/{qtxportd.service,yieldscope-import.service,yieldscope-import.timer}
  ./usr/share/applications/jp.norvane.yieldscope.desktop
  ./usr/share/metainfo/jp.norvane.yieldscope.metainfo.xml
  ./usr/share/icons/hicolor/scalable/apps/jp.norvane.yieldscope.svg
  ./usr/share/icons/hicolor/{64x64,128x128}/apps/jp.norvane.yieldscope.png
  ./usr/share/man/man1/{yieldscope,yieldscope-cli,gencalc,monitor-sim}.1.gz
  ./usr/share/man/man8/qtxportd.8.gz
  ./usr/share/doc/yieldscope/{copyright,changelog.gz}
)
for path in "${expected[@]}"; do
  grep -qxF -- "$path" "$work/list" || fail "missing from the package: $path"
done

depends=$(dpkg-deb -f "$deb" Depends)
for dep in libc6 libqt6widgets6 libqt6printsupport6 libqt6svg6 libusb-1.0-0 \
           fonts-ipafont-gothic fonts-ipafont-mincho; do
  [[ ",$depends," =~ [,\ ]$dep[\ ,\(] ]] || fail "Depends lacks $dep: $depends"
done
check "package version" [ "$(dpkg-deb -f "$deb" Version)" = "$version" ]

# --- Unpacked: the installed files themselves.
root=$work/root
dpkg-deb -x "$deb" "$root"
units=$root/usr/lib/systemd/user
check "import service command" grep -qx 'ExecStart=/usr/bin/yieldscope-cli import --port auto' \
  "$units/yieldscope-import.service"
check "import service is one-shot" grep -qx 'Type=oneshot' "$units/yieldscope-import.service"
# Enabled through its timer only.
grep -q '^\[Install\]' "$units/yieldscope-import.service" && fail "the import service has [Install]"
for line in OnCalendar=weekly Persistent=true WantedBy=timers.target; do
  check "timer: $line" grep -qx "$line" "$units/yieldscope-import.timer"
done
check "driver host service" grep -qx 'ExecStart=/usr/lib/yieldscope/qtxportd --quiet' \
  "$units/qtxportd.service"
for size in 64 128; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/jp.norvane.yieldscope.png
  check "${size} px icon" [ "$(od -An -tx1 -j16 -N8 "$png" | tr -d ' \n')" = \
    "$(printf '%08x%08x' "$size" "$size")" ]
done
if command -v desktop-file-validate >/dev/null; then
  check "desktop entry" desktop-file-validate "$root/usr/share/applications/jp.norvane.yieldscope.desktop"
fi
if command -v appstreamcli >/dev/null; then
  check "metainfo" appstreamcli validate --no-net --explain \
    "$root/usr/share/metainfo/jp.norvane.yieldscope.metainfo.xml" >/dev/null
fi

# --- The commands on the PATH find the program folder through their links: simulate needs the
# engine, its constants and the region table beside the real program.
bin=$root/usr/bin
export HOME=$work/home XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
export NORVANE_PORT_DIR=$work/ports XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$NORVANE_PORT_DIR" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
sample=$work/sample.sol
"$bin/yieldscope-cli" build "$src/resources/samples/demo.json" "$sample" >/dev/null
check "yieldscope-cli --help" "$bin/yieldscope-cli" --help >/dev/null
"$bin/yieldscope-cli" simulate "$sample" >"$work/simulate.out" 2>&1 ||
  fail "simulate through /usr/bin: $(cat "$work/simulate.out")"
check "simulate printed twelve months" [ "$(grep -c '^[0-9]*M=' "$work/simulate.out")" = 12 ]
check "monitor-sim --help" "$bin/monitor-sim" --help >/dev/null
check "qtxportd --help" "$bin/qtxportd" --help >/dev/null

# --- The import service's command, on the user's data file.
start_sim() {
  coproc SIM { exec "$bin/monitor-sim" --port 1 --demo --install 2023-04 --unpaced --quiet "$@"; }
  sim_pid=$SIM_PID
  local ready=""
  read -r -t 20 ready <&"${SIM[0]}" || true
  [[ "$ready" == "monitor-sim: COM1 -> "* ]] || { echo "FAIL: monitor-sim did not start" >&2; exit 1; }
}
command=$(sed -n 's|^ExecStart=/usr/|'"$root"'/usr/|p' "$units/yieldscope-import.service")
user_file=$XDG_DATA_HOME/Norvane/SolarData.sol
mkdir -p "$(dirname "$user_file")"
cp "$sample" "$user_file"

start_sim --fault bad-block:17
set +e
$command >"$work/bad.out" 2>"$work/bad.err"
status=$?
set -e
stop_sim
check "a corrupt reply ends with 5 (got $status)" [ "$status" = 5 ]
check "the failed import names the failure" grep -q '発電データを受信できませんでした。.*nothing was changed' "$work/bad.err"
check "a failed import leaves the file untouched" cmp -s "$sample" "$user_file"

start_sim
$command >"$work/good.out" 2>"$work/good.err" || fail "import: $(cat "$work/good.err")"
stop_sim
check "the import reports success" grep -qx '発電データの受信を完了しました。' "$work/good.out"
check "the import saved the user's file" grep -qx "saved:  $user_file" "$work/good.out"
"$bin/yieldscope-cli" dump "$user_file" >"$work/dump.json"
cmp -s "$sample" "$user_file" && fail "the import left the user's file as it was"
check "the file holds the unit's days" grep -q '"dayCount": *[1-9]' "$work/dump.json"

if [[ $failures -gt 0 ]]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package $deb: content, /usr/bin entries and the import service command are as expected"
