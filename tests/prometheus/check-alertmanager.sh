#!/usr/bin/env bash
# amtool takes the Alertmanager route shipped beside the rules, and the one the README shows
# (its block that starts "# /etc/prometheus/alertmanager.yml").
set -euo pipefail
top=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
amtool check-config "$top/exporter/deploy/alertmanager.yml"
awk '/^```yaml$/ { inside = 1; next } inside && /^```$/ { inside = 0; if (found) exit }
     inside && /^# \/etc\/prometheus\/alertmanager\.yml/ { found = 1 }
     inside && found { print }' "$top/README.md" >"$dir/alertmanager.yml"
test -s "$dir/alertmanager.yml" || { echo "README.md shows no alertmanager.yml"; exit 1; }
amtool check-config "$dir/alertmanager.yml"
