#!/usr/bin/env bash
# Writes what temra-cli prints for a fixed set of command lines into a folder,
# one file per line (standard output, and standard error with the exit status),
# so that two builds can be compared byte for byte when a change should change
# no output:
#   scripts/same-outputs.sh OLD/temra-cli /tmp/before
#   scripts/same-outputs.sh NEW/temra-cli /tmp/after && diff -r /tmp/before /tmp/after
set -uo pipefail
cli=$1
out=$2
here=$(cd "$(dirname "$0")/.." && pwd)
springs=$here/examples/springs.csv
mkdir -p "$out"
wells=$out/wells.csv
cat > "$wells" <<'TABLE'
sample,Ne-20,Ne-20 err,Ar-40,Ar-40 err,Kr-84,Kr-84 err,Xe,Xe err,group
W1-a,2.39e-07,2.4e-09,3.82e-04,3.8e-06,4.92e-08,4.9e-10,1.23e-08,1.2e-10,W1
W1-b,2.41e-07,2.4e-09,3.85e-04,3.8e-06,4.95e-08,4.9e-10,1.24e-08,1.2e-10,W1
,2.37e-07,2.4e-09,3.79e-04,3.8e-06,4.89e-08,4.9e-10,1.22e-08,1.2e-10,W2
W3,2.6e-07,2.6e-09,3.9e-04,3.9e-06,5.0e-08,5e-10,1.25e-08,1.2e-10,W3
TABLE
n=0
run() {
    n=$((n + 1))
    "$cli" "$@" > "$out/$n.out" 2> "$out/$n.raw"
    local status=$?
    # The time a study took is left out: it is the one line that may differ.
    grep -v '^temra-cli: note: fitted .* in .* s$' "$out/$n.raw" > "$out/$n.err"
    rm -f "$out/$n.raw"
    echo "exit $status" >> "$out/$n.err"
}
run grid
run fit
run fit-ea
run pair
run study "$springs"
for model in ce pr pd od all; do run study "$springs" --model "$model"; done
run study "$springs" --model pr --pr-beta 0.5
run study "$springs" --prior-maat --prior-sd 0.5
run study "$springs" --mc --mc-draws 20
run study "$springs" --maat --temp-max 30
run study "$springs" --per-gram --gases Ne-20,Ar-40,Kr-84,Xe,He-4,N2
for model in ce pr pd od; do run study "$springs" --per-gram --model "$model"; done
run study "$wells" --ensemble T,E
run study "$wells" --model all --a-max 0.05
run study "$wells" --model ce --maat --prior-maat
run study "$springs" --model gr
run study "$springs" --model gr --gr-beta 0.5 --gr-f-max 10
