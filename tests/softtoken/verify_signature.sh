#!/bin/sh
# Checks with openssl the signature the software token made in
# SignTest.SignatureForOpenssl: SHA-256 with RSA PKCS#1 v1.5 over data.bin,
# by the key in public.der (SubjectPublicKeyInfo, DER).
set -eu
dir=$1
for f in public.der data.bin signature.bin; do
    [ -s "$dir/$f" ] || { echo "missing $dir/$f"; exit 1; }
done
openssl dgst -sha256 -verify "$dir/public.der" -keyform DER -signature "$dir/signature.bin" "$dir/data.bin"
# A changed message must not verify.
printf 'X' >> "$dir/data.bin"
if openssl dgst -sha256 -verify "$dir/public.der" -keyform DER -signature "$dir/signature.bin" "$dir/data.bin" >/dev/null 2>&1; then
    echo "a changed message verified"
    exit 1
fi
rm -f "$dir/public.der" "$dir/data.bin" "$dir/signature.bin"
echo "1 passed, 0 failed"
