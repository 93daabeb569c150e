#!/usr/bin/env bash
# The import wizard on the virtual card. Installs what is missing, builds,
# prepares a sample PFX (its password is printed), starts a private pcscd
# with a fresh virtual Orvel card and opens OrvelImportCertificate:
#   - on the user's display when there is one (DISPLAY or WAYLAND_DISPLAY):
#     use it as a person would (PIN 1234);
#   - without a display the wizard walks through its pages by itself and a
#     screenshot of every page and dialog is saved in the folder it names.
# Afterwards it prints what the card holds.
#   scripts/demo.sh [BUILD_DIR]
# The private pcscd runs in a mount namespace of its own (a system pcscd is
# left alone); that needs root, so the demo asks for sudo when needed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
scripts/install-deps.sh
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target \
  OrvelImportCertificate orvel_wizard_autopilot orvelcsp orvel_wizard_demo orvelcard >/dev/null

work=$(mktemp -d /tmp/orvel-demo-XXXXXX)
password="Contraseña-Orvel"
pin=1234

scripts/sample-pfx.sh "$work/muestra.pfx" "Usuaria de prueba" "$password"

echo "Sample PFX:    $work/muestra.pfx"
echo "Its password:  $password"
echo "Card PIN:      $pin"

as_root=()
if [[ $(id -u) -ne 0 ]]; then
  as_root=(sudo --preserve-env=DISPLAY,WAYLAND_DISPLAY,XAUTHORITY,XDG_RUNTIME_DIR)
fi

demo=("$build/bin/orvel-wizard-demo" --pfx "$work/muestra.pfx" --password "$password"
      --pin "$pin" --save "$work/tarjeta.json")
if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
  echo "Opening the wizard on your display..."
  status=0
  "${as_root[@]}" env ORVEL_USER_DIR="$work/usuario" "${demo[@]}" || status=$?
else
  echo "No display: the wizard walks through its pages by itself."
  echo "Screenshots:   $work/capturas"
  status=0
  "${as_root[@]}" env QT_QPA_PLATFORM=offscreen ORVEL_USER_DIR="$work/usuario" \
    "${demo[@]}" --autopilot --screenshots "$work/capturas" || status=$?
  ls "$work/capturas"
fi

echo
echo "What the card holds now:"
"$build/bin/orvelcard" dump "$work/tarjeta.json"
exit "$status"
