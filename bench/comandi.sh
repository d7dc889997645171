#!/usr/bin/env bash
# Avvia il server SSH di prova, misura i comandi in serie (bench/comandi.cpp) e lo ferma.
# Uso: bench/comandi.sh [numero di comandi]   (BUILD=cartella di build, build se manca)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
LAVORO=$(mktemp -d /tmp/ormeggio-banco.XXXXXX)
chmod 755 "$LAVORO"
trap 'tests/fixtures/server_ssh.sh ferma "$LAVORO/ssh" >/dev/null 2>&1 || true; rm -rf "$LAVORO"' EXIT
cmake --build "$BUILD" --target comandi >/dev/null
tests/fixtures/server_ssh.sh avvia "$LAVORO/ssh"
ORMEGGIO_SSH_FATTI="$LAVORO/ssh/fatti.env" "$BUILD/bench/comandi" "$@"
