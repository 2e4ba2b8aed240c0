#!/usr/bin/env bash
# Runs one Windows test program with the TLS peer beside it:
#   run-with-peer.sh <wine-run> <test.exe> <pki folder>
# The program finds the peer's control port in MARFEL_TLS_PEER and the CA in MARFEL_TLS_CA.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exec bash "$here/run-beside.sh" "$here/tlspeer.py" MARFEL_TLS_PEER MARFEL_TLS_CA "$@"
