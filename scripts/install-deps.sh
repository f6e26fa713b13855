#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, only those missing.
# Safe to run again: with everything present it only checks and returns.
set -euo pipefail

native=(cmake make g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
        g++-mingw-w64-i686 lhasa jlha-utils gzip)
wine_pkgs=(wine wine32:i386)

missing=()
for p in "${native[@]}" "${wine_pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# A package can be listed as installed while a file it needs is gone: reinstall it then.
reinstall=()
for pair in i686-w64-mingw32-g++-posix:g++-mingw-w64-i686-posix \
            i686-w64-mingw32-ar:binutils-mingw-w64-i686 lhasa:lhasa jlha:jlha-utils; do
  command -v "${pair%%:*}" >/dev/null 2>&1 || reinstall+=("${pair#*:}")
done

if [ ${#missing[@]} -eq 0 ] && [ ${#reinstall[@]} -eq 0 ]; then
  echo "install-deps: everything needed is installed"
  exit 0
fi

echo "install-deps: missing: ${missing[*]} ${reinstall[*]}"
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
  echo "install-deps: cannot install without root and apt-get; run as root:" >&2
  echo "  dpkg --add-architecture i386 && apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
need_i386=0
for p in "${missing[@]}"; do [[ "$p" == *:i386 ]] && need_i386=1; done
if [ $need_i386 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
[ ${#missing[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${missing[@]}"
[ ${#reinstall[@]} -eq 0 ] || apt-get install -y -qq --reinstall "${reinstall[@]}"
echo "install-deps: installed ${missing[*]} ${reinstall[*]}"
