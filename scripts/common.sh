# Shared by the quick-start scripts and CI: the one list of Debian packages
# the project needs, and the build steps. Source it; do not run it.

BRINDLE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

BRINDLE_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  clang-14 libclang-rt-14-dev
  python3 python3-pyftpdlib
)

# Installs whatever of BRINDLE_PACKAGES is missing (needs root or sudo).
brindle_install_packages() {
  local missing=()
  for p in "${BRINDLE_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}" >&2
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# brindle_build DIR [cmake options...]: configures and builds into DIR.
brindle_build() {
  local dir="$1"; shift
  cmake -S "$BRINDLE_ROOT" -B "$dir" -G Ninja -DBRINDLE_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
