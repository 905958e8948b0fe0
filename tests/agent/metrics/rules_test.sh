#!/usr/bin/env bash
# The shipped alert rules, with Prometheus's own promtool: "check rules"
# accepts them, and "test rules" runs their unit tests, in which each alert
# fires on the lanes made to fire it and stays quiet on the others.
# usage: rules_test.sh RULES_FILE TEST_FILE
set -euo pipefail

rules=$1
tests=$2
if ! command -v promtool >/dev/null; then
    echo "promtool is missing: install the Debian package prometheus (scripts/install-deps.sh)" >&2
    exit 1
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The unit tests name the rules file beside them.
cp "$rules" "$tmp/pinpad-agent.rules.yml"
cp "$tests" "$tmp/pinpad-agent.rules.test.yml"
cd "$tmp"
promtool check rules pinpad-agent.rules.yml
promtool test rules pinpad-agent.rules.test.yml
