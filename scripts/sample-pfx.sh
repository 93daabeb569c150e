#!/usr/bin/env bash
# A sample PFX for trying an import: a 1024-bit RSA key and its self-signed
# sha1RSA certificate (O=DRAV-NOR, CN=NAME), for signing and encipherment,
# protected with PASSWORD. The key leaves no other file behind.
#   scripts/sample-pfx.sh PFX_FILE NAME PASSWORD
set -euo pipefail

if [[ $# -ne 3 ]]; then
  echo "usage: $0 PFX_FILE NAME PASSWORD" >&2
  exit 2
fi
pfx=$1 name=$2 password=$3
pem=$(mktemp -d /tmp/orvel-sample-pfx-XXXXXX)
trap 'rm -rf "$pem"' EXIT

openssl req -x509 -newkey rsa:1024 -sha1 -nodes -days 3650 \
  -keyout "$pem/clave.pem" -out "$pem/certificado.pem" \
  -subj "/O=DRAV-NOR/CN=$name" \
  -addext "keyUsage=digitalSignature,keyEncipherment" 2>/dev/null
openssl pkcs12 -export -in "$pem/certificado.pem" -inkey "$pem/clave.pem" \
  -name "$name" -out "$pfx" -passout "pass:$password"
