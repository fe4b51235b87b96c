#!/usr/bin/env bash
# Installs everything the build, the tests and the screenshots need on a fresh Debian machine.
# Idempotent: a second run only checks that the packages are there.
set -euo pipefail

packages=(
  cmake ninja-build make
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  libz-mingw-w64-dev googletest nlohmann-json3-dev
  wine wine64 xvfb x11-utils xauth imagemagick
  fonts-wine fonts-nanum fonts-wqy-microhei fonts-dejavu-core
  python3 bc
  # The HTTP client's tests: the test server's certificates, and the host CA store that Wine
  # trusts (the trusted HTTPS test adds a throwaway CA there for its run).
  openssl ca-certificates
  # The web service (service/): host compiler, its store, and the browser that its page tests
  # load the pages in.
  g++ pkgconf libsqlite3-dev chromium
  # The service's HTTP server: Boost.Beast over Asio (header-only; every connection waits on the
  # I/O threads with deadlines of its own, none holds a worker), OpenSSL for HTTPS, zlib for
  # compressed request bodies.
  libboost-dev libssl-dev zlib1g-dev
  # The service's PostgreSQL store (libpq).
  libpq-dev
  # The HTTP client of the service's tests and benchmarks (built with OpenSSL for the HTTPS tests).
  libcpp-httplib-dev
)
# Only for tests, which are skipped with the reason printed when these cannot be installed: the
# throwaway PostgreSQL server (initdb, pg_ctl), the openssl command that makes a test certificate,
# and nginx, the reverse proxy that the deployment puts before several services (its tests and
# scripts/service-front.sh run a throwaway one of their own; where the system starts services at
# installation, Debian's package also starts the system's nginx on port 80).
optional=(postgresql openssl nginx)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

missing=()
for p in "${optional[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq || true
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
    echo "bootstrap: could not install ${missing[*]}; the tests that need them are skipped" >&2
fi

# The posix thread model gives std::thread and std::mutex with mingw-w64.
if command -v update-alternatives >/dev/null && [ -e /usr/bin/x86_64-w64-mingw32-g++-posix ]; then
  : # the toolchain file names the -posix compilers directly; no alternatives are changed
fi
