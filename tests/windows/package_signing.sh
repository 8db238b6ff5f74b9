#!/bin/sh
# Packages the build again with a throwaway certificate, as a site signs with its own, and checks
# that both programs in the zip carry a signature that verifies against it.
# Usage: package_signing.sh BUILD_FOLDER
set -eu
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=ZEBCmd test signer" \
    -keyout key.pem -out cert.pem 2>/dev/null
cpack --config "$1/CPackConfig.cmake" -B out -D "CPACK_ZEBCMD_SIGN_CERT=$scratch/cert.pem" \
    -D "CPACK_ZEBCMD_SIGN_KEY=$scratch/key.pem" >/dev/null
unzip -q out/*.zip ZEBCmd.exe ZEBCmdCon.exe
for program in ZEBCmd.exe ZEBCmdCon.exe; do
  osslsigncode verify -CAfile cert.pem -in "$program" >/dev/null
  echo "$program: signed, and the signature verifies against the certificate"
done
