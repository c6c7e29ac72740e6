#!/bin/sh
# Makes the seed files of the hostile-file test with openssl, into the
# folder given as the only argument: certificates of several shapes and PFX
# files whose inner structure a mutation can reach (no MAC, no encryption),
# besides the usual protected ones. Runs as a CTest fixture step.
set -eu
. "$(cd "$(dirname "$0")" && pwd)/../fixtures/begin_fixture_folder.sh"

# A certificate with many extensions: nested structures in OCTET STRINGs.
printf '[req]\ndistinguished_name=dn\nx509_extensions=ext\n[dn]\n[ext]\n%s\n%s\n%s\n%s\n%s\n' \
    'basicConstraints=critical,CA:FALSE' \
    'keyUsage=critical,digitalSignature,keyEncipherment' \
    'extendedKeyUsage=clientAuth,emailProtection' \
    'subjectAltName=email:a@example.com,DNS:example.com,IP:10.0.0.1,URI:http://example.com/' \
    'subjectKeyIdentifier=hash' > rb_ext.cnf
openssl req -x509 -newkey rsa:1024 -nodes -keyout rb_ext.key -out rb_ext.pem -days 365 \
    -subj "/C=SE/ST=Skane/L=Lund/O=Robust/OU=Files/CN=Extension Rich/emailAddress=a@example.com" \
    -config rb_ext.cnf 2>/dev/null
openssl x509 -in rb_ext.pem -outform DER -out rb_ext.der

# An elliptic-curve certificate and key: a key the import cannot store.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout rb_ec.key \
    -out rb_ec.pem -days 365 -subj "/CN=Curve Key" 2>/dev/null
openssl x509 -in rb_ec.pem -outform DER -out rb_ec.der

# RSA 1024 for the PFX files (quick to import).
openssl req -x509 -newkey rsa:1024 -nodes -keyout rb_rsa.key -out rb_rsa.pem -days 365 \
    -subj "/O=Robust/CN=PFX Holder" 2>/dev/null
openssl x509 -in rb_rsa.pem -outform DER -out rb_rsa.der

pfx() { openssl pkcs12 -export -passout pass:secret "$@"; }
# Protected by a MAC, contents in the clear: a change fails the MAC.
pfx -in rb_rsa.pem -inkey rb_rsa.key -keypbe NONE -certpbe NONE -out rb_plain.pfx
# No MAC and nothing encrypted: every change reaches the parser and the key import.
pfx -in rb_rsa.pem -inkey rb_rsa.key -keypbe NONE -certpbe NONE -nomac -out rb_open.pfx
pfx -in rb_ext.pem -inkey rb_ext.key -certfile rb_rsa.pem -keypbe NONE -certpbe NONE -nomac -out rb_open_chain.pfx
# Keys that are not RSA, keys without a certificate, certificates without a key.
pfx -in rb_ec.pem -inkey rb_ec.key -keypbe NONE -certpbe NONE -nomac -out rb_open_ec.pfx
pfx -in rb_rsa.pem -inkey rb_rsa.key -nocerts -keypbe NONE -certpbe NONE -nomac -out rb_open_keyonly.pfx
pfx -in rb_rsa.pem -nokeys -certpbe NONE -nomac -out rb_open_certonly.pfx
# The usual kind: encrypted with a MAC.
pfx -in rb_rsa.pem -inkey rb_rsa.key -out rb_sealed.pfx

echo "$stamp" > .complete
