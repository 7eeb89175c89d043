#!/bin/sh
# Makes a local certificate authority and a server certificate for localhost / 127.0.0.1 / ::1
# in OUTDIR, for running strikecountd over HTTPS on this machine. Nothing outside OUTDIR is
# touched: the system trust store stays as it is. Clients trust OUTDIR/ca.pem explicitly.
#
#   service/make-dev-cert.sh OUTDIR [DAYS] [ec|rsa]
#
# Writes ca.pem, ca.key, server.pem (leaf then CA), server.key. Keys are ECDSA P-256 (ec, the
# default): a handshake signs with one in a small fraction of an RSA 2048 signature's time, and
# Windows 7 and later and Wine accept it. `rsa` makes RSA 2048 keys instead. An existing set is
# kept unless the server certificate expires within a day or its key is of the other kind.
set -eu
out=${1:?usage: make-dev-cert.sh OUTDIR [DAYS] [ec|rsa]}
days=${2:-825}
kind=${3:-ec}
case $kind in
  ec) newkey="-newkey ec -pkeyopt ec_paramgen_curve:P-256" algorithm=id-ecPublicKey
      key_encipherment="" ;;
  rsa) newkey="-newkey rsa:2048" algorithm=rsaEncryption key_encipherment=", keyEncipherment" ;;
  *) echo "make-dev-cert: key kind must be ec or rsa, not $kind" >&2; exit 2 ;;
esac
mkdir -p "$out"
if [ -s "$out/server.pem" ] && [ -s "$out/server.key" ] && [ -s "$out/ca.pem" ] &&
   openssl x509 -in "$out/server.pem" -noout -checkend 86400 >/dev/null 2>&1 &&
   openssl x509 -in "$out/server.pem" -noout -text 2>/dev/null |
     grep -q "Public Key Algorithm: $algorithm"; then
  echo "make-dev-cert: keeping the certificates in $out"
  exit 0
fi
umask 077
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cat > "$tmp/ca.cnf" <<'CNF'
[req]
distinguished_name = dn
prompt = no
x509_extensions = v3_ca
[dn]
CN = Stormtally local development CA
O = Stormtally (local, untrusted outside this machine)
[v3_ca]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
CNF

cat > "$tmp/server.cnf" <<CNF
[req]
distinguished_name = dn
prompt = no
[dn]
CN = localhost
O = Stormtally strikecountd (local)
[v3_server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature${key_encipherment}
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1, IP:::1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid, issuer
CNF

# shellcheck disable=SC2086 # $newkey is several words
openssl req -x509 -new $newkey -nodes -sha256 -days "$days" \
  -keyout "$tmp/ca.key" -out "$tmp/ca.pem" -config "$tmp/ca.cnf" 2>/dev/null
# shellcheck disable=SC2086
openssl req -new $newkey -nodes -sha256 \
  -keyout "$tmp/server.key" -out "$tmp/server.csr" -config "$tmp/server.cnf" 2>/dev/null
openssl x509 -req -in "$tmp/server.csr" -CA "$tmp/ca.pem" -CAkey "$tmp/ca.key" \
  -CAcreateserial -sha256 -days "$days" -extfile "$tmp/server.cnf" -extensions v3_server \
  -out "$tmp/leaf.pem" 2>/dev/null
openssl verify -CAfile "$tmp/ca.pem" "$tmp/leaf.pem" >/dev/null

cat "$tmp/leaf.pem" "$tmp/ca.pem" > "$out/server.pem"
cp "$tmp/server.key" "$out/server.key"
cp "$tmp/ca.key" "$out/ca.key"
cp "$tmp/ca.pem" "$out/ca.pem"
chmod 600 "$out/server.key" "$out/ca.key"
chmod 644 "$out/ca.pem" "$out/server.pem"
echo "make-dev-cert: wrote ca.pem, server.pem and server.key to $out"
