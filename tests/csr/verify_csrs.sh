#!/bin/sh
# Checks the CSRs that csr_tests saved into the folder given as the only
# argument: openssl accepts each one's signature, and each line of a CSR's
# .expect file appears in openssl's description of it (modulus and text).
set -u
dir=$1
status=0
count=0
for csr in "$dir"/*.pem; do
    [ -e "$csr" ] || continue
    count=$((count + 1))
    if ! openssl req -in "$csr" -noout -verify >"$csr.verify" 2>&1 || ! grep -q "verify OK" "$csr.verify"; then
        echo "FAIL: $csr: openssl does not accept it:"; cat "$csr.verify"; status=1
    fi
    expect=${csr%.pem}.expect
    [ -f "$expect" ] || continue
    text=$({ openssl req -in "$csr" -noout -modulus; openssl req -in "$csr" -noout -text -nameopt utf8,sep_comma_plus; } 2>&1)
    while IFS= read -r line; do
        [ -n "$line" ] || continue
        case $text in
            *"$line"*) ;;
            *) echo "FAIL: $csr lacks \"$line\""; status=1 ;;
        esac
    done <"$expect"
    [ $status -eq 0 ] || echo "$text"
done
# The selected-key and new-key-pair CSRs at least.
if [ "$count" -lt 2 ]; then
    echo "FAIL: $count CSR files in $dir, expected at least 2"; status=1
fi
[ $status -eq 0 ] && echo "$count CSRs verified"
exit $status
