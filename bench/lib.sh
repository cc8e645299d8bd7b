# Shared by the end-to-end benchmarks: the programs they time, odiff from the
# npm registry, and a median of wall times.

source scripts/lib.sh
data=build/bench-data
tools=build/bench-tools

# pixelmatch, exactly the version the comparer's counts are checked against,
# with the PNG reader its driver uses.
npm_tools() {
  need_packages "${bench_packages[@]}"
  command -v npm >/dev/null || need_packages npm
  if [[ ! -f $tools/node_modules/pixelmatch/package.json ]] ||
     ! grep -q '"version": "7.2.0"' "$tools/node_modules/pixelmatch/package.json"; then
    mkdir -p "$tools"
    (cd "$tools" && npm install --silent --no-audit --no-fund pixelmatch@7.2.0 pngjs@7 >/dev/null)
  fi
  cp bench/pixelmatch-count.mjs "$tools/"
}

build_tools() {
  npm_tools
  cmake --preset native >/dev/null
  cmake --build --preset native -j "$(nproc)" --target tobrel-diff make_pair read_floor png_decode_floor >/dev/null
  # The peers, at the versions our figures name.
  if ! grep -qs '"version": "4.5.0"' "$tools/node_modules/odiff-bin/package.json" ||
     ! grep -qs '"version": "3.5.0"' "$tools/node_modules/@blazediff/bin/package.json"; then
    mkdir -p "$tools"
    (cd "$tools" && npm install --silent --no-audit --no-fund odiff-bin@4.5.0 @blazediff/bin@3.5.0 >/dev/null)
  fi
  odiff=$(find "$tools/node_modules" -type f -name 'odiff*' -path '*linux-x64*' -perm -u+x | head -n 1)
  [[ -n $odiff ]] || odiff=$tools/node_modules/odiff-bin/bin/odiff
  [[ -x $odiff ]] || { echo "odiff not found after npm install" >&2; exit 1; }
  blazediff=$(find "$tools/node_modules/@blazediff" -type f -name blazediff -perm -u+x | head -n 1)
  [[ -n $blazediff ]] || { echo "blazediff not found after npm install" >&2; exit 1; }
  mkdir -p "$data"
}

# Median wall time in milliseconds of RUNS runs of a command, after one
# warm-up run that also puts its files in the page cache.
median_ms() {
  local runs=$1 times=() i start end
  shift
  "$@" >/dev/null 2>&1 || true
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    times+=("$(((end - start) / 1000))")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p" | awk '{ printf "%.1f", $1 / 1000 }'
}

ratio() {
  awk "BEGIN { printf \"%.2f\", $1 / ($2 > 0 ? $2 : 1) }"
}
