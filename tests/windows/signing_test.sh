#!/usr/bin/env bash
# The release's signing, run as the release workflow runs it, with a
# throwaway self-signed certificate and no timestamp server: the two
# programs before packing, the uninstaller while NSIS writes it, the
# installer last. Each signature must then verify against that certificate
# and no other; the uninstaller is checked where the installer writes it,
# installed silently under Wine.
#
#   signing_test.sh SOURCE_DIR BUILD_DIR QUILLMARK WATCHER HARNESS STATE
set -euo pipefail
source_dir=$1 build_dir=$2 quillmark=$3 watcher=$4 harness=$5 state=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

certificate() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$1" \
    -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature \
    -keyout "$work/$2.key" -out "$work/$2.pem" 2>/dev/null
}
certificate "Quillmark Test Signing" signer
certificate "Someone Else" stranger
openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" \
  -out "$work/signer.pfx" -passout pass:throwaway

export QM_SIGN_PFX=$work/signer.pfx QM_SIGN_PASSWORD=throwaway QM_SIGN_TIMESTAMP_URL=
export QM_SIGN_CA_FILE=$work/signer.pem
sign=$source_dir/scripts/sign-windows
"$sign" "$quillmark" "$watcher"
cpack --config "$build_dir/CPackConfig.cmake" -B "$work/pack" >"$work/cpack.log" ||
  { cat "$work/cpack.log"; exit 1; }
installer=$(echo "$work"/pack/Quillmark-*-setup.exe)
"$sign" "$installer"

# Installed where the test can read it: the uninstaller NSIS wrote, signed.
installed=$work/installed
"$harness" run "$state" "$installer" /S "/D=Z:${installed//\//\\}"

failed=0
for file in "$quillmark" "$watcher" "$installer" "$installed/Quillmark.exe" \
  "$installed/QuillmarkWatcher.exe" "$installed/Uninstall.exe"; do
  if ! osslsigncode verify -CAfile "$work/signer.pem" -in "$file" >"$work/verify.log" 2>&1; then
    echo "not signed by the test certificate: $file"
    cat "$work/verify.log"
    failed=1
  elif osslsigncode verify -CAfile "$work/stranger.pem" -in "$file" >/dev/null 2>&1; then
    echo "verifies against another certificate too: $file"
    failed=1
  else
    echo "signed by the test certificate: $file"
  fi
done

# The uninstaller runs on from a copy of itself: wait for the folder to go.
"$harness" run "$state" "$installed/Uninstall.exe" /S
for _ in $(seq 60); do
  [ -d "$installed" ] || break
  sleep 0.5
done
exit "$failed"
