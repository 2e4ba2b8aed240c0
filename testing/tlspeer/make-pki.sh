#!/usr/bin/env bash
# The test PKI of the TLS peer: a CA, a leaf for localhost, a leaf for another name, and a
# self-signed leaf for localhost. Made once per build folder.
set -euo pipefail
dir=$1
[ -e "$dir/done" ] && exit 0
mkdir -p "$dir"
cd "$dir"
# Test wrappers started side by side make it once: the others wait for the first.
exec 9>"$dir/.lock"
flock -w 120 9
[ -e done ] && exit 0
days=3650
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days $days \
  -subj "/CN=marfel test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
leaf() { # name subject-alt-name
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" 2>/dev/null
  printf 'subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$2" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -out "$1.pem" -days $days \
    -extfile "$1.ext" 2>/dev/null
}
leaf good localhost
leaf wrongname wrong.example
openssl req -x509 -newkey rsa:2048 -nodes -keyout selfsigned.key -out selfsigned.pem -days $days \
  -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost" 2>/dev/null
touch done
