#!/usr/bin/env bash
# Runs one Windows test program beside the scripted SMTP server:
#   run-with-server.sh <wine-run> <test.exe> <pki folder>
# The program finds the server's control port in QUENTA_SMTP_CONTROL and the CA in QUENTA_SMTP_CA.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exec bash "$here/../tlspeer/run-beside.sh" "$here/scripted_smtp.py" QUENTA_SMTP_CONTROL QUENTA_SMTP_CA "$@"
