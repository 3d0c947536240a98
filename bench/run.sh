#!/usr/bin/env bash
# Runs the engine benchmarks side by side with their yardsticks and prints a
# table of ratios. Usage: bench/run.sh [SCRATCH_DIR]   (needs ~1.5 GB free)
# Extra packages: hugo (Debian's), gettext-base (envsubst).
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"
BUILD="$BRINDLE_ROOT/build-bench"
brindle_build "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBRINDLE_BENCH=ON -DBRINDLE_TESTS=OFF
CLI="$BUILD/brindle-cli"
PY=/usr/bin/python3
GEN="$BRINDLE_ROOT/bench/gen.py"
W="${1:-$(mktemp -d /tmp/brindle-bench.XXXXXX)}"
mkdir -p "$W"
REPEAT=${REPEAT:-5}

# best SECONDS of REPEAT runs of a shell command
best() {
  local b="" s e t
  for _ in $(seq "$REPEAT"); do
    [ -n "${PREP:-}" ] && eval "$PREP"
    s=$EPOCHREALTIME; eval "$1"; e=$EPOCHREALTIME
    t=$(awk "BEGIN { print $e - $s }")
    if [ -z "$b" ] || awk "BEGIN { exit !($t < $b) }"; then b=$t; fi
  done
  printf '%.4f' "$b"
}
ratio() { awk "BEGIN { printf \"%.2f\", $1 / $2 }"; }
mbps() { awk "BEGIN { printf \"%.0f\", $1 / 1000000 / $2 }"; }

rows=()
row() { rows+=("| $1 | $2 | $3 | $4 |"); }

# --- expansion throughput --------------------------------------------------
for spec in "10000000 20" "10000000 100" "100000000 20"; do
  set -- $spec
  size=$1 every=$2
  d="$W/text-$size-$every"; mkdir -p "$d"
  "$PY" "$GEN" text "$size" "$every" "$d/in.txt" "$d/in.env.txt" "$d/env.sh" "$d/vars.json"
  "$CLI" import "$d/vars.json" "$d/vars.brp"
  bytes=$(stat -c %s "$d/in.txt")
  ours=$(best "\"$CLI\" expand \"$d/vars.brp\" --single-pass < \"$d/in.txt\" > \"$d/out.txt\"")
  envs=$(best "(source \"$d/env.sh\"; envsubst < \"$d/in.env.txt\" > \"$d/out.env.txt\")")
  floor=$(best "cat \"$d/in.txt\" > \"$d/copy.txt\"")
  cmp -s "$d/out.txt" "$d/out.env.txt" || echo "warning: expand and envsubst outputs differ ($size/$every)" >&2
  eval "t_${size}_${every}=$ours"
  row "expand $((size / 1000000)) MB, a placeholder per $every B" "$(mbps "$bytes" "$ours") MB/s" \
      "envsubst $(mbps "$bytes" "$envs") MB/s, copy $(mbps "$bytes" "$floor") MB/s" \
      "$(ratio "$envs" "$ours")× envsubst (target ≥ 2), $(ratio "$ours" "$floor")× copy"
done
row "expand 100 MB vs 10 × 10 MB" "${t_100000000_20}s" "10 × ${t_10000000_20}s" \
    "$(ratio "$t_100000000_20" "$(awk "BEGIN { print 10 * $t_10000000_20 }")")× (target ≤ 1.10)"

# --- Build All of 10,000 pages --------------------------------------------
d="$W/site"; rm -rf "$d"; mkdir -p "$d"
"$PY" "$GEN" site 10000 "$d"
"$CLI" import "$d/site.json" "$d/site.brp"
PREP="rm -rf \"$d/out\"; mkdir -p \"$d/out\"; sync"
"$CLI" build "$d/site.brp" > /dev/null
page=$(stat -c %s "$d/out/p00000.html")
ours=$(best "\"$CLI\" build \"$d/site.brp\" > /dev/null")
floor=$(best "\"$BUILD/write_floor\" \"$d/out\" 10000 $page")
PREP="rm -rf \"$d/public\"; sync"
hugo=$(best "(cd \"$d/hugo\" && hugo --quiet -d \"$d/public\")")
PREP=""
dry=$(best "\"$CLI\" build \"$d/site.brp\" --dry-run > /dev/null")
hugomem=$(best "(cd \"$d/hugo\" && hugo --quiet --renderToMemory)")
row "Build All, 10,000 pages to disk" "${ours}s" "write floor ${floor}s, hugo ${hugo}s" \
    "$(ratio "$ours" "$floor")× floor (target ≤ 1.15), $(ratio "$hugo" "$ours")× faster than hugo"
row "Build All --dry-run, 10,000 pages" "${dry}s" "hugo --renderToMemory ${hugomem}s" \
    "$(ratio "$hugomem" "$dry")× faster (target ≥ 10)"

# --- load and save of a 100 MB project ------------------------------------
d="$W/big"; mkdir -p "$d"
"$PY" "$GEN" bigproject 100 "$d/big.json"
"$CLI" import "$d/big.json" "$d/big.brp"
out=$("$BUILD/project_io" "$d/big.brp" "$d" "$REPEAT")
get() { echo "$out" | awk -v k="$1" '$1 == k { print $2 }'; }
mb=$(( $(get bytes) / 1000000 ))
row "load a ${mb} MB project" "$(get load)s" "read the file $(get read)s" "$(ratio "$(get load)" "$(get read)")× (target ≤ 1.5)"
row "save a ${mb} MB project" "$(get save)s" "write + sync $(get write)s" "$(ratio "$(get save)" "$(get write)")× (target ≤ 1.5)"

echo
echo "| measurement | Brindle | yardstick | ratio |"
echo "|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
echo "($(nproc) cores, best of $REPEAT runs; scratch files in $W)"
