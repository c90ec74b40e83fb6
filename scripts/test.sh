#!/usr/bin/env bash
# Installs what the builds need, builds the Windows programs, the POSIX build
# and a sanitizer build (AddressSanitizer and UBSan), and runs every test.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages

jobs=$(nproc)

step "Windows build (i686-w64-mingw32)"
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C build-win
for exe in build-win/bin/*.exe; do
  file "$exe" | grep -q 'PE32 executable (GUI) Intel 80386' || { echo "not a 32-bit GUI program: $exe"; exit 1; }
done
echo "$(ls build-win/bin/*.exe | wc -l) Windows programs built"

step "POSIX build and tests"
cmake -S . -B build -G Ninja -DBUILD_TESTING=ON >/dev/null
ninja -C build
(cd build && ctest -j"$jobs" --output-on-failure)

step "Sanitizer build (ASan, UBSan) and tests"
cmake -S . -B build-asan -G Ninja -DBUILD_TESTING=ON -DKIT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
ninja -C build-asan
(cd build-asan && ctest -j"$jobs" --output-on-failure)

echo "all builds and tests passed"
