#!/bin/sh
# The program's folders are layers: each may include the folders below it,
# never one above. Fails, naming the file and the include, when a source
# reaches up (a feature including the shell, or the Cryptoki layer including
# a feature). The static library of each folder links only the folders
# below it as well, so code that calls up does not link either.
#
#   cryptoki  <  objects  <  admin  <  import, csr  <  app
#
# Usage: check_layers.sh <source root>
root=${1:?usage: check_layers.sh <source root>}
status=0

# folder: the folders it may include besides itself and res (resource IDs).
allowed() {
    case $1 in
    cryptoki) echo "" ;;
    objects) echo "cryptoki" ;;
    admin) echo "cryptoki" ;;
    import) echo "cryptoki objects admin" ;;
    csr) echo "cryptoki objects admin" ;;
    esac
}

for folder in cryptoki objects admin import csr; do
    may="$folder res $(allowed "$folder")"
    for file in "$root/$folder"/*.h "$root/$folder"/*.cpp; do
        [ -f "$file" ] || continue
        # The folder of every project include ("folder/File.h").
        for used in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\)\/.*/\1/p' "$file" | sort -u); do
            case " $may " in
            *" $used "*) ;;
            *)
                echo "${file#$root/}: includes $used/, above $folder/" >&2
                status=1
                ;;
            esac
        done
    done
done
[ $status -eq 0 ] && echo "every folder includes only the folders below it"
exit $status
