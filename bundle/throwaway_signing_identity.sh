#!/bin/sh
# Makes a self-signed code-signing certificate and its key, valid for two
# days, as a PKCS #12 file: the stand-in for the Developer ID certificate on
# every push. macOS's own openssl (LibreSSL) writes the PKCS #12 in a form
# that security import reads.
#
# Usage: throwaway_signing_identity.sh OUT_P12 P12_PASSWORD COMMON_NAME
set -eu

if [ $# -ne 3 ]; then
  echo "usage: $0 OUT_P12 P12_PASSWORD COMMON_NAME" >&2
  exit 2
fi
out=$1
password=$2
name=$3
openssl=/usr/bin/openssl
[ -x "$openssl" ] || openssl=openssl

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/request.cnf" <<CONFIG
[req]
distinguished_name = subject
prompt = no
x509_extensions = codesigning
[subject]
CN = $name
[codesigning]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, codeSigning
CONFIG
"$openssl" req -x509 -newkey rsa:2048 -nodes -days 2 -config "$work/request.cnf" \
  -keyout "$work/key.pem" -out "$work/certificate.pem" 2>/dev/null
# OpenSSL 3 writes by default a PKCS #12 whose integrity check security
# import cannot verify; its legacy form is the one LibreSSL writes.
legacy=
if "$openssl" version | grep -q '^OpenSSL 3'; then
  legacy=-legacy
fi
"$openssl" pkcs12 -export $legacy -inkey "$work/key.pem" -in "$work/certificate.pem" \
  -name "$name" -out "$out" -passout "pass:$password"
