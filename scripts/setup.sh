#!/usr/bin/env bash
# Installs what the project needs from Debian's packages (only what is missing) and
# makes the project-local venv from Debian's interpreter. Running it again changes nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON="${TESSARY_PYTHON:-/usr/bin/python3}"
PACKAGES=(
  g++ meson ninja-build pkg-config
  python3 python3-dev python3-venv python3-pytest python3-hypothesis python3-mesonpy
  libgtest-dev libbenchmark-dev
  rapidjson-dev libtbb-dev libutf8proc-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ ! -x .venv/bin/python ]; then
  echo "setup: creating .venv from $PYTHON"
  "$PYTHON" -m venv --system-site-packages .venv
fi
