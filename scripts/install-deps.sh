#!/usr/bin/env bash
# Installs the Debian packages this project needs that the machine lacks.
# Idempotent: when everything is there it only asks dpkg and returns.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ccache
  libpcsclite-dev pcscd vsmartcard-vpcd pcsc-tools python3-pyscard
  dpkg-dev lintian p11-kit p11-kit-modules
  libssl-dev zlib1g-dev
  qt6-base-dev qt6-translations-l10n
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev
  clang-14 libclang-rt-14-dev clang-format-14
  util-linux procps fonts-dejavu-core
  libp11-kit-dev opensc gnutls-bin libengine-pkcs11-openssl libnss3-tools
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
