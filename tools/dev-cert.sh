#!/usr/bin/env bash
# Makes a private certificate authority and a server certificate for localhost and 127.0.0.1
# in DIR (ca.pem, server.pem, server.key), unless they are there already. Nothing is added to
# the machine's trust store: whoever needs to trust ca.pem does so in its own mount namespace.
set -euo pipefail
dir=${1:?usage: dev-cert.sh DIR}
mkdir -p "$dir"
cd "$dir"
[[ -s ca.pem && -s server.pem && -s server.key ]] && exit 0
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Stormtally local CA" \
  -keyout ca.key -out ca.pem -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server.key \
  -out server.csr 2>/dev/null
cat > server.ext <<'EXT'
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1
EXT
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 825 \
  -extfile server.ext -out server.pem 2>/dev/null
rm -f server.csr server.ext ca.srl
