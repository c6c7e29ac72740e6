#!/bin/sh
# Checks with openssl the requests softpke_tests left in the work folder
# (the only argument): each one's signature, and each line of its .expect
# file in openssl's account of it (modulus, text with UTF-8 names, and the
# ASN.1 dump with runs of blanks squeezed; "UPN::" as older openssl
# releases print it is read as "UPN:"). Then the chain: a test CA
# issues a certificate for chain.pem, whose subject key identifier must be
# the CKA_ID the library gave the key pair (chain.id); the import step
# reads the certificate.
set -u
dir=$1
status=0
count=0
for csr in "$dir"/*.pem; do
    case $csr in */chain_cert.pem|*/ca.pem) continue ;; esac
    [ -e "$csr" ] || continue
    count=$((count + 1))
    if ! openssl req -in "$csr" -noout -verify >"$csr.verify" 2>&1 || ! grep -q "verify OK" "$csr.verify"; then
        echo "FAIL: $csr: openssl does not accept it:"; cat "$csr.verify"; status=1
        continue
    fi
    expect=${csr%.pem}.expect
    [ -f "$expect" ] || continue
    text=$({ openssl req -in "$csr" -noout -modulus
             openssl req -in "$csr" -noout -text -nameopt utf8,sep_comma_plus
             openssl asn1parse -in "$csr" | tr -s ' '; } 2>&1 | sed 's/UPN::/UPN:/g')
    while IFS= read -r line; do
        [ -n "$line" ] || continue
        case $text in
            *"$line"*) ;;
            *) echo "FAIL: $csr lacks \"$line\""; echo "$text"; status=1 ;;
        esac
    done <"$expect"
done
if [ "$count" -lt 7 ]; then
    echo "FAIL: $count requests in $dir, expected 7"; status=1
fi

# The chain.
chain=$dir/chain.pem
if [ ! -s "$chain" ] || [ ! -s "$dir/chain.id" ]; then
    echo "FAIL: no chain request"; exit 1
fi
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/ca.key" -out "$dir/ca.pem" -days 2 \
    -subj "/CN=Softpke Test CA" >/dev/null 2>&1 || { echo "FAIL: test CA"; exit 1; }
printf 'subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\nbasicConstraints=CA:FALSE\n' >"$dir/ext.cnf"
openssl x509 -req -in "$chain" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial -days 1 \
    -extfile "$dir/ext.cnf" -copy_extensions copy -out "$dir/chain_cert.pem" >/dev/null 2>&1 ||
    { echo "FAIL: the test CA does not issue for chain.pem"; exit 1; }
ski=$(openssl x509 -in "$dir/chain_cert.pem" -noout -ext subjectKeyIdentifier | tail -n 1 | tr -d ' :\r')
id=$(tr -d '\r\n' <"$dir/chain.id")
if [ "$ski" != "$id" ]; then
    echo "FAIL: subject key identifier $ski, key pair CKA_ID $id"; status=1
fi
openssl x509 -in "$dir/chain_cert.pem" -noout -ext keyUsage,extendedKeyUsage | grep -q "TLS Web Client Authentication" ||
    { echo "FAIL: the request's extensions did not reach the certificate"; status=1; }
[ $status -eq 0 ] && echo "$count requests verified; chain key identifier $id"
exit $status
