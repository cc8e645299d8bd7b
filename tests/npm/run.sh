#!/usr/bin/env bash
# The npm packages as a user meets them: installed from dist/npm into a
# fresh project without the network, then the API checked by node --test,
# its types by tsc, and the screenshot matchers in a real Jest project and a
# real Playwright Test project (both driving Debian's chromium): the first
# run writes the baseline, the second passes and rewrites nothing even with
# the update flag, a changed page fails with its difference image on disk,
# the update flag accepts it, and the next run passes. The last line counts
# the checks.
#
#   tests/npm/run.sh REPO
set -uo pipefail
repo=$1
work=$repo/build/npm-test
project=$work/project
log=$work/npm-test.log
passed=0
failed=0
rm -rf "$work"
mkdir -p "$project"
: >"$log"

check() {  # WHAT COMMAND...: passes when the command does
  local what=$1
  shift
  if (cd "$project" && "$@") >"$work/last.log" 2>&1; then
    cat "$work/last.log" >>"$log"
    echo "ok      $what"
    passed=$((passed + 1))
  else
    cat "$work/last.log" >>"$log"
    echo "FAIL    $what (build/npm-test/npm-test.log)"
    failed=$((failed + 1))
  fi
}
fails() { ! "$@"; }
same() { cmp -s "$1" "$2"; }
exists() { [[ -s $1 ]]; }
says() { grep -q 'pixels differ (limit 0 pixels)' "$1" && grep -qF "difference image: $2" "$1"; }

cp -r "$repo/tests/npm/." "$repo/tests/support/bmp.mjs" "$project/"
rm -f "$project/run.sh"
echo '{ "name": "tobrel-diff-npm-test", "private": true }' >"$project/package.json"

# Ours first, on their own, with no network at all.
no_install_scripts() {
  local file
  for file in "$repo"/dist/npm/*.tgz; do
    tar -xzOf "$file" package/package.json | node -e '
      const p = JSON.parse(require("fs").readFileSync(0, "utf8"));
      const s = p.scripts || {};
      process.exit(s.preinstall || s.install || s.postinstall ? 1 : 0);' || return 1
  done
}
check "the packages have no install scripts" no_install_scripts
# This machine's program, as npm would choose it from the optional
# dependencies, and the API; another platform's program is refused.
version=$(sed -nE 's/^project\(Tobrel VERSION ([0-9.]+).*/\1/p' "$repo/CMakeLists.txt")
case $(uname -m) in aarch64) here=linux-arm64 other=linux-x64 ;; *) here=linux-x64 other=linux-arm64 ;; esac
check "the packages install from their files without the network" \
  npm install --offline --no-audit --no-fund "$repo/dist/npm/tobrel-diff-$version.tgz" \
  "$repo/dist/npm/tobrel-diff-$here-$version.tgz"
check "npm refuses another platform's program" fails npm install --offline --no-audit --no-fund --no-save \
  "$repo/dist/npm/tobrel-diff-$other-$version.tgz"
check "the platform's program came with them" node -e 'require("fs").accessSync(require("tobrel-diff").binaryPath(), 1)'

# The test runners and the compiler from the npm registry.
check "the test runners install" npm install --no-audit --no-fund --prefer-offline \
  jest@29 @playwright/test@1 typescript@5 @types/node@20 puppeteer-core@24

if (cd "$project" && node --test api.test.mjs) >"$work/api.log" 2>&1; then :; fi
cat "$work/api.log" >>"$log"
api_pass=$(sed -nE 's/^# pass ([0-9]+)$/\1/p' "$work/api.log")
api_fail=$(sed -nE 's/^# fail ([0-9]+)$/\1/p' "$work/api.log")
echo "        node --test: ${api_pass:-0} passed, ${api_fail:-?} failed"
passed=$((passed + ${api_pass:-0}))
failed=$((failed + ${api_fail:-1}))
((${api_pass:-0} > 0)) || failed=$((failed + 1))

check "tsc --strict takes the declarations, every field used" \
  npx tsc --noEmit --strict --skipLibCheck false --module nodenext --moduleResolution nodenext --types node types.ts

# A runner's round: RUNNER (jest or playwright) and its update flag.
round() {
  local runner=$1 update=$2 shots=$3
  local baseline=$shots/account.png diff=$shots/__results__/account-diff.png
  # Jest takes CI=true (as CI servers set it) for --ci; a developer's run is not one.
  local run=(npx jest --ci=false --rootDir jest)
  [[ $runner == playwright ]] && run=(npx playwright test -c playwright/playwright.config.js)
  if [[ $runner == jest ]]; then
    check "jest --ci: a missing baseline fails, and is not written" fails npx jest --ci --rootDir jest
    check "jest --ci: ... not written" fails exists "$project/$baseline"
  fi
  check "$runner: the first run writes the baseline" "${run[@]}"
  check "$runner: ... which is there" exists "$project/$baseline"
  cp "$project/$baseline" "$work/first.png"
  check "$runner: the second run passes with the update flag, the baseline kept" "${run[@]}" "$update"
  check "$runner: ... byte for byte" same "$project/$baseline" "$work/first.png"
  check "$runner: a changed page fails" fails env PAGE=changed "${run[@]}"
  cp "$work/last.log" "$work/$runner-failed.log"
  check "$runner: ... with its difference image on disk" exists "$project/$diff"
  check "$runner: ... and says how many pixels differ, the limit and where the images are" \
    says "$work/$runner-failed.log" "$project/$diff"
  check "$runner: the update flag accepts the change" env PAGE=changed "${run[@]}" "$update"
  check "$runner: ... rewriting the baseline" fails same "$project/$baseline" "$work/first.png"
  check "$runner: and the changed page passes" env PAGE=changed "${run[@]}"
}
round jest -u jest/__screenshots__/screenshot.test.js
round playwright --update-snapshots playwright/__screenshots__/screenshot.test.js

echo "npm: $passed passed, $failed failed"
