# Shared by scripts/run and scripts/test: the Debian packages each part of the
# build needs, installing what is missing, and a virtual X display for Wine.

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

native_packages=(cmake make g++ googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev libspng-dev zlib1g-dev libisal-dev libb64-dev pkg-config
                 libjpeg62-turbo-dev libwebp-dev libtiff-dev libgif-dev libdeflate-dev imagemagick libxml2-utils)
sanitize_packages=(clang libclang-rt-14-dev)
windows_packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev libz-mingw-w64-dev
                  wine wine64 xvfb xdotool imagemagick fonts-horai-umefont unzip)
# The core and the comparer cross-built for ARM64 and run under qemu-user,
# with Debian's arm64 libraries installed beside the host's.
aarch64_packages=(g++-aarch64-linux-gnu qemu-user libspng-dev:arm64 zlib1g-dev:arm64 libb64-dev:arm64 libstdc++6:arm64
                  libjpeg62-turbo-dev:arm64 libwebp-dev:arm64 libtiff-dev:arm64 libgif-dev:arm64 libdeflate-dev:arm64)
package_check_packages=(dpkg-dev lintian)
# The benchmarks and the cross-check: peers from the npm registry (npm comes
# with some builds of nodejs, on its own with Debian's), pairs drawn by
# ImageMagick.
bench_packages=(nodejs imagemagick fonts-dejavu-core)
# The comparer's report is tested in Debian's chromium, driven from node.
report_packages=(chromium nodejs fonts-dejavu-core)

# The browser driver from the npm registry, pointed at Debian's chromium
# (it downloads no browser of its own).
need_browser_driver() {
  command -v npm >/dev/null || need_packages npm
  local tools=$repo/build/report-tools
  if [[ ! -f $tools/node_modules/puppeteer-core/package.json ]]; then
    mkdir -p "$tools"
    (cd "$tools" && npm install --silent --no-audit --no-fund puppeteer-core@24 >/dev/null)
  fi
  cp "$repo/tests/report/report-test.mjs" "$repo/tests/support/bmp.mjs" "$tools/"
}

# Installs those of the named packages that are not installed yet; asks apt
# for its lists only then.
need_packages() {
  local missing=() package
  for package in "$@"; do
    [[ $(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) == *"install ok installed"* ]] ||
      missing+=("$package")
  done
  ((${#missing[@]} == 0)) && return 0
  echo "Installing ${missing[*]}"
  local sudo=
  [[ $(id -u) == 0 ]] || sudo=sudo
  if [[ "${missing[*]}" == *:arm64* ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $sudo dpkg --add-architecture arm64
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Starts Xvfb on a free display and exports DISPLAY; stop_xvfb ends it.
xvfb_pid=
start_xvfb() {
  local numberfile
  numberfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$numberfile" 2>/dev/null &
  xvfb_pid=$!
  local waited=0
  until [[ -s $numberfile ]]; do
    if ((waited++ > 100)) || ! kill -0 "$xvfb_pid" 2>/dev/null; then
      echo "Xvfb did not start" >&2
      rm -f "$numberfile"
      return 1
    fi
    sleep 0.1
  done
  export DISPLAY=:$(head -n 1 "$numberfile")
  rm -f "$numberfile"
}

stop_xvfb() {
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  fi
}

# Ends the Wine processes of the build tree's prefix, and nobody else's.
stop_wine() {
  if [[ -d $repo/build/wineprefix ]]; then
    WINEPREFIX=$repo/build/wineprefix wineserver -k 2>/dev/null || true
  fi
}
