#!/usr/bin/env bash
# Avvia il server SSH di prova, misura i camminatori remoti (bench/confronto_remoto.cpp) e lo ferma.
# Uso: bench/confronto_remoto.sh   (BUILD=cartella di build, build se manca)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
LAVORO=$(mktemp -d /tmp/ormeggio-banco.XXXXXX)
chmod 755 "$LAVORO"
trap 'tests/fixtures/server_ssh.sh ferma "$LAVORO/ssh" >/dev/null 2>&1 || true; rm -rf "$LAVORO"' EXIT
cmake --build "$BUILD" --target confronto_remoto >/dev/null
tests/fixtures/server_ssh.sh avvia "$LAVORO/ssh"
ORMEGGIO_SSH_FATTI="$LAVORO/ssh/fatti.env" "$BUILD/bench/confronto_remoto" "$@"
