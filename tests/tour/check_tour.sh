#!/bin/sh
# Checks the files that tour_tests wrote into the folder given first, with
# the fixtures folder second: the exported certificate is the PFX's own
# certificate as openssl reads it, the PEM export the same certificate, the CSR passes openssl's verification,
# names the common name typed in the tour and holds the PFX's public key.
# Then the screen pictures (BMP) become PNG files beside them.
set -u
dir=$1
fixtures=$2
status=0
fail() { echo "FAIL: $*"; status=1; }

if openssl pkcs12 -in "$fixtures/imp_modern.pfx" -passin pass:secret -nokeys -clcerts 2>/dev/null |
        openssl x509 -outform DER -out "$dir/pfx-certificate.der" 2>/dev/null; then
    cmp -s "$dir/pfx-certificate.der" "$dir/tour-export.crt" ||
        fail "tour-export.crt is not the certificate of imp_modern.pfx"
else
    fail "openssl cannot read the certificate of imp_modern.pfx"
fi

# The PEM export is the same certificate: openssl's fingerprints agree.
der_print=$(openssl x509 -inform DER -in "$dir/tour-export.crt" -noout -fingerprint -sha256 2>&1)
pem_print=$(openssl x509 -in "$dir/tour-export.pem" -noout -fingerprint -sha256 2>&1)
[ -n "$der_print" ] && [ "$der_print" = "$pem_print" ] ||
    fail "tour-export.pem ($pem_print) is not tour-export.crt ($der_print)"

csr=$dir/tour-request.pem
if ! openssl req -in "$csr" -noout -verify >"$dir/verify.txt" 2>&1 || ! grep -q "verify OK" "$dir/verify.txt"; then
    fail "openssl does not accept $csr:"; cat "$dir/verify.txt"
fi
subject=$(openssl req -in "$csr" -noout -subject -nameopt sep_comma_plus 2>&1)
case $subject in
    *"CN=Tour User"*) ;;
    *) fail "the CSR's subject is \"$subject\"" ;;
esac
modulus=$(openssl req -in "$csr" -noout -modulus 2>&1 | sed 's/^Modulus=//')
[ "$modulus" = "$(cat "$fixtures/imp_ee.modulus")" ] || fail "the CSR is not for the PFX's key"

count=0
for picture in "$dir"/shots/*.bmp; do
    [ -e "$picture" ] || continue
    convert "$picture" "${picture%.bmp}.png" || fail "convert $picture"
    count=$((count + 1))
done
[ "$count" -ge 20 ] || fail "$count pictures, expected one per step"

[ $status -eq 0 ] && echo "tour files checked, $count pictures in $dir/shots"
exit $status
