#!/bin/sh
# Puts the signing identity of a PKCS #12 file into a new keychain of its
# own, unlocked, on this user's search list, where codesign uses it without
# asking (its key's partition list names Apple's tools). The release job
# imports the Developer ID certificate this way, and the macOS workflow a
# throwaway one, so that every push takes the release's signing path. Prints
# the SHA-1 hash of the code-signing identity imported.
#
# Usage: import_signing_identity.sh P12 P12_PASSWORD KEYCHAIN
set -eu

if [ $# -ne 3 ]; then
  echo "usage: $0 P12 P12_PASSWORD KEYCHAIN" >&2
  exit 2
fi
p12=$1
p12_password=$2
keychain=$3

# The keychain's own password serves only this job.
keychain_password=$(openssl rand -hex 24)
security create-keychain -p "$keychain_password" "$keychain" >&2
security set-keychain-settings -lut 21600 "$keychain" >&2
security unlock-keychain -p "$keychain_password" "$keychain" >&2
security import "$p12" -k "$keychain" -f pkcs12 -P "$p12_password" -T /usr/bin/codesign >&2
security set-key-partition-list -S apple-tool:,apple:,codesign: -s -k "$keychain_password" \
  "$keychain" >/dev/null
# codesign looks for identities in the keychains of the search list.
# shellcheck disable=SC2046
security list-keychains -d user -s "$keychain" $(security list-keychains -d user | tr -d '"') >&2

# Listed whether or not the system trusts the certificate: a throwaway one
# is not trusted, and codesign signs with it all the same.
hash=$(security find-identity -p codesigning "$keychain" |
  sed -n 's/^ *[0-9][0-9]*) \([0-9A-F]\{40\}\) .*/\1/p' | head -n 1)
if [ -z "$hash" ]; then
  echo "import_signing_identity: no code-signing identity in $p12" >&2
  exit 1
fi
echo "$hash"
