# Avvio: --version contro tclsh; finestra principale mappata contro una finestra vuota di wish.
set -euo pipefail
B=${BUILD:-build}
N=30
# hyperfine sottrae il costo della shell; si confronta la mediana.
J=$(mktemp)
hyperfine -w 5 -r 40 --export-json "$J" "$B/ormeggio --version" "echo 'puts [info patchlevel]' | tclsh" >/dev/null
read -r v tc < <(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]; print(*("%.2f" % (x["median"]*1000) for x in r))' "$J")
rm -f "$J"
echo "ormeggio --version: $v ms; tclsh: $tc ms; rapporto $(awk "BEGIN {printf \"%.2f\", $v/$tc}") (obiettivo <= 0.5)"
CASA=$(mktemp -d)
w=$("$B/bench/tempo_mappatura" 15 wish /dev/null)
o=$(HOME=$CASA "$B/bench/tempo_mappatura" 15 "$B/ormeggio")
rm -rf "$CASA"
echo "finestra mappata: ormeggio $o ms; wish $w ms; rapporto $(awk "BEGIN {printf \"%.2f\", $o/$w}") (obiettivo <= 1.5)"
