#!/usr/bin/env bash
# The packages as a person gets them: builds them (scripts/package.sh),
# checks them with lintian, installs them with apt-get, and as a fresh user
# (a new HOME, nothing registered but the card by `register-card --reader`):
#   - the installed wizard, under Qt's offscreen platform and driven by the
#     autopilot from the build tree, imports a PFX onto a virtual card that
#     the installed `orvelcard` serves to a private pcscd;
#   - pkcs11-tool through p11-kit's proxy shows the card's token;
# then purges both packages and checks that none of their files is left.
# Everything it started or installed is undone also when a step fails.
# Needs root (apt-get, dpkg, the private pcscd's mount namespace).
#   scripts/package-test.sh [BUILD_DIR]    (the autopilot comes from BUILD_DIR, default build)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
packages=(orvel-middleware orvel-cardsim)
libdir=/usr/lib/x86_64-linux-gnu
started=$SECONDS
step() { echo "-- $1 ($((SECONDS - started)) s)"; }
fail() { echo "package-test: $*" >&2; exit 1; }

[[ $(id -u) -eq 0 ]] || fail "needs root (apt-get, dpkg, a private pcscd)"
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q installed; then
    fail "$p is installed already; purge it first (dpkg --purge $p)"
  fi
done

work=$(mktemp -d /tmp/orvel-package-test-XXXXXX)
serve_pid= pcscd_pid= installed=
cleanup() {
  local status=$?
  set +e
  [[ -n $serve_pid ]] && kill -TERM "$serve_pid" 2>/dev/null && wait "$serve_pid" 2>/dev/null
  [[ -n $pcscd_pid ]] && kill -TERM -- "-$pcscd_pid" 2>/dev/null && wait "$pcscd_pid" 2>/dev/null
  if [[ -n $installed ]]; then
    DEBIAN_FRONTEND=noninteractive dpkg --purge "${packages[@]}" >/dev/null 2>&1
  fi
  if [[ $status -ne 0 ]]; then
    for log in "$work"/*.log; do [[ -s $log ]] && { echo "== $log"; tail -n 30 "$log"; }; done
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step "packages"
scripts/package.sh >"$work/package.log" 2>&1 || fail "scripts/package.sh failed"
ls -l dist/*.deb
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake --preset release >/dev/null
  build=build
fi
cmake --build "$build" -j"$(nproc)" --target orvel_wizard_autopilot >"$work/autopilot.log" 2>&1
autopilot=$PWD/$build/bin/liborvel_wizard_autopilot.so

step "lintian"
lint=0
lintian --fail-on error dist/*.deb >"$work/lintian.log" 2>&1 || lint=$?
grep -v "root privileges is not recommended" "$work/lintian.log" || true
[[ $lint -eq 0 ]] || fail "lintian reports errors"

step "apt-get install ./dist/*.deb"
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  ./dist/orvel-middleware_*.deb ./dist/orvel-cardsim_*.deb >"$work/apt.log" 2>&1 \
  || fail "apt-get install failed"
for p in "${packages[@]}"; do dpkg -L "$p" >"$work/$p.files"; done
for f in /usr/bin/OrvelImportCertificate /usr/bin/orvelplatform /usr/bin/orvelcard \
         "$libdir/orvel/liborvelcsp.so" "$libdir/orvel/libOrvelCertStore.so" \
         "$libdir/pkcs11/orvel-pkcs11.so" /usr/share/p11-kit/modules/orvel.module \
         /etc/orvel-platform/providers.json /etc/orvel-platform/smartcards.json \
         /usr/share/applications/OrvelImportCertificate.desktop \
         /usr/share/man/man1/OrvelImportCertificate.1.gz /usr/share/man/man1/orvelplatform.1.gz; do
  [[ -e $f ]] || fail "$f is not installed"
done

step "a private pcscd serving a virtual card with the installed orvelcard"
# A fresh user: a new HOME, its state in the default place, nothing registered.
export HOME=$work/home
unset ORVEL_USER_DIR ORVEL_SYSTEM_DIR XDG_DATA_HOME ORVEL_MODULE_PATH
mkdir -m 0700 "$HOME"
mkdir "$work/run" "$work/conf"
# Two free consecutive ports for the vpcd reader's two slots.
port=$(python3 -c '
import socket
for base in range(35000 + __import__("os").getpid() % 20000, 60000, 2):
    try:
        s = [socket.socket() for _ in range(2)]
        for i, x in enumerate(s): x.bind(("127.0.0.1", base + i))
        print(base); break
    except OSError: pass
    finally:
        for x in s: x.close()')
printf 'FRIENDLYNAME "Virtual PCD"\nDEVICENAME   /dev/null:%s\nLIBPATH      /usr/lib/pcsc/drivers/serial/libifdvpcd.so\n' \
  "$port" >"$work/conf/vpcd"
# pcscd always makes /run/pcscd/pcscd.comm: in a mount namespace of its own
# a private directory covers /run/pcscd (or a private /run when there is none).
setsid unshare -m --propagation private sh -c '
  if [ ! -d /run/pcscd ]; then mount -t tmpfs -o mode=0755,size=1m tmpfs /run && mkdir /run/pcscd; fi
  mount --bind "$1" /run/pcscd && exec pcscd --foreground --config "$2"' \
  sh "$work/run" "$work/conf" >"$work/pcscd.log" 2>&1 </dev/null &
pcscd_pid=$!
export PCSCLITE_CSOCK_NAME=$work/run/pcscd.comm
orvelcard make "$work/card.json" --serial 0123456789AB --pin 1234 >/dev/null
orvelcard serve "$work/card.json:$port" >"$work/serve.log" 2>&1 </dev/null &
serve_pid=$!

step "register-card --reader (the only registration)"
reader="Virtual PCD 00 00"
orvelplatform list-cards | grep -q "^DRAV-NOR" || fail "no system-wide DRAV-NOR entry"
for _ in $(seq 100); do  # pcscd starts and polls the reader about every 400 ms
  if orvelplatform register-card DRAV-NOR --reader "$reader" >"$work/register.log" 2>&1; then
    break
  fi
  sleep 0.1
done
grep -q "DRAV-NOR: ATR 3B08445241562D4E4F52 mask FFFFFFFFFFFFFFFFFFFF" "$work/register.log" \
  || fail "register-card --reader: $(cat "$work/register.log")"
status=0
orvelplatform register-card DRAV-NOR --reader "No Such Reader" 2>/dev/null || status=$?
[[ $status -eq 2 ]] || fail "register-card with a missing reader: exit $status, not 2"
state=$HOME/.local/share/orvel-platform
[[ $(ls "$state") == smartcards.json ]] || fail "the user's state holds more than the card: $(ls "$state")"

step "the installed wizard imports a PFX (offscreen, autopilot)"
password="Contraseña-Orvel"
scripts/sample-pfx.sh "$work/muestra.pfx" "Usuaria del paquete" "$password"
# The autopilot links the platform's user interface: LD_LIBRARY_PATH binds it
# to the installed libraries, not to the build tree's.
QT_QPA_PLATFORM=offscreen LD_LIBRARY_PATH=$libdir/orvel LD_PRELOAD=$autopilot \
ORVEL_AUTOPILOT_FILE=$work/muestra.pfx ORVEL_AUTOPILOT_PASSWORD=$password \
ORVEL_AUTOPILOT_PIN=1234 ORVEL_AUTOPILOT_LOG=$work/autopilot-steps.log \
  timeout 120 /usr/bin/OrvelImportCertificate >"$work/wizard.log" 2>&1 \
  || fail "the wizard failed (exit $?)"
kill -TERM "$serve_pid" && wait "$serve_pid" || true  # saves the image
serve_pid=
orvelcard dump "$work/card.json" >"$work/dump.log"
grep -q "Usuaria del paquete" "$work/dump.log" || fail "the certificate is not on the card"
orvelcard serve "$work/card.json:$port" >>"$work/serve.log" 2>&1 </dev/null &
serve_pid=$!

step "pkcs11-tool through p11-kit's proxy"
for _ in $(seq 100); do
  pkcs11-tool --module "$libdir/p11-kit-proxy.so" -L >"$work/pkcs11.log" 2>&1 || true
  grep -q "token label *: Orvel 0123456789AB" "$work/pkcs11.log" && break
  sleep 0.1
done
grep -q "token label *: Orvel 0123456789AB" "$work/pkcs11.log" \
  || fail "p11-kit shows no Orvel token: $(cat "$work/pkcs11.log")"
grep -E "Slot|token label" "$work/pkcs11.log"

step "dpkg --purge"
kill -TERM "$serve_pid" && wait "$serve_pid" || true
serve_pid=
kill -TERM -- "-$pcscd_pid" && wait "$pcscd_pid" || true
pcscd_pid=
dpkg --purge "${packages[@]}" >"$work/purge.log" 2>&1 || fail "dpkg --purge failed"
installed=
left=()
for p in "${packages[@]}"; do
  while read -r f; do
    [[ -e $f && ! -d $f ]] && left+=("$f")
  done <"$work/$p.files"
done
[[ ! -e /etc/orvel-platform ]] || left+=(/etc/orvel-platform)
[[ ! -e $libdir/orvel ]] || left+=("$libdir/orvel")
[[ ${#left[@]} -eq 0 ]] || fail "left after purging: ${left[*]}"
step "done: $(du -k dist/*.deb | awk '{printf "%s %s KiB  ", $2, $1}')"
