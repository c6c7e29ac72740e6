#!/bin/sh
# Checks with openssl the signatures that keys imported from PFX files made
# on the token (PfxImportTest.ImportedKeysSignForOpenssl): SHA-256 with RSA
# PKCS#1 v1.5 over data.bin, each <name>.sig against the public key of the
# certificate <name>.pem the PFX file was made from. imp_ee.sig is always
# there; others only where the platform imports their key.
set -eu
dir=$1
fixtures=$2
[ -s "$dir/data.bin" ] || { echo "missing $dir/data.bin"; exit 1; }
[ -s "$dir/imp_ee.sig" ] || { echo "missing $dir/imp_ee.sig"; exit 1; }
count=0
for sig in "$dir"/*.sig; do
    name=$(basename "$sig" .sig)
    openssl x509 -in "$fixtures/$name.pem" -noout -pubkey > "$dir/$name.pub"
    openssl dgst -sha256 -verify "$dir/$name.pub" -signature "$sig" "$dir/data.bin"
    count=$((count + 1))
done
# A changed message must not verify.
printf 'X' >> "$dir/data.bin"
if openssl dgst -sha256 -verify "$dir/imp_ee.pub" -signature "$dir/imp_ee.sig" "$dir/data.bin" >/dev/null 2>&1; then
    echo "a changed message verified"
    exit 1
fi
rm -f "$dir"/data.bin "$dir"/*.sig "$dir"/*.pub
echo "$count passed, 0 failed"
