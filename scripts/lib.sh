# Shared by scripts/test.sh and scripts/demo.sh.

step() { printf '\n==> %s\n' "$*"; }

# Installs the Debian packages the builds, tests and demo use, when missing.
KIT_PACKAGES="cmake ninja-build g++ g++-mingw-w64-i686 libgtest-dev file default-jdk-headless"
ensure_packages() {
  local missing=()
  for p in $KIT_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    step "installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}
