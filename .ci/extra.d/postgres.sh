#!/usr/bin/env bash
# The tests on a private PostgreSQL 15 server, in the build `make check` left.
set -euo pipefail
cd "$(dirname "$0")/../.."
make --no-print-directory check-server
