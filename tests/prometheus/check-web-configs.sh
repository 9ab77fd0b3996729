#!/usr/bin/env bash
# promtool, the Prometheus server's own checker, takes both example web configurations, beside
# a certificate, a key and a CA made here for them.
set -euo pipefail
examples=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
openssl req -x509 "${ec[@]}" -keyout client-ca.key -out client-ca.crt -days 1 -subj /CN=ca 2>/dev/null
openssl req -x509 "${ec[@]}" -keyout server.key -out server.crt -days 1 -subj /CN=lab-01 2>/dev/null
for example in web-config-passwords.yml web-config-client-certificates.yml; do
    cp "$examples/$example" .
    promtool check web-config "$example"
done
