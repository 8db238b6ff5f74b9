#!/bin/sh
# Packages the build with a throwaway certificate, as a site signs with its own: both programs in
# the zip must carry a signature that verifies against it. Usage: package_signing.sh BUILD
set -eu
cd "$(mktemp -d)"
trap 'rm -rf "$PWD"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=signer -keyout key.pem -out cert.pem 2>/dev/null
cpack --config "$1/CPackConfig.cmake" -B out -D "CPACK_ZEBCMD_SIGN_CERT=$PWD/cert.pem" \
    -D "CPACK_ZEBCMD_SIGN_KEY=$PWD/key.pem" >/dev/null
unzip -q out/*.zip ZEBCmd.exe ZEBCmdCon.exe
for program in ZEBCmd.exe ZEBCmdCon.exe; do osslsigncode verify -CAfile cert.pem -in $program; done
