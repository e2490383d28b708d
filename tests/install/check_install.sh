#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds the C consumer against it
# through the CMake package (shared and static) and through pkg-config, and the
# C example through the CMake package, and runs each against the installed naxsim.
# usage: check_install.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build=$1
here=$2/tests/install
version=$3
work=$build/install-check
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
for f in include/vedodiroz.h bin/naxsim bin/naxctl; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
libdir=$(dirname "$(find "$prefix" -name vedodiroz.pc)")/..
for page in man3/nax_get_time.3.gz man3/vedodiroz.3.gz man1/naxctl.1.gz man1/naxsim.1.gz; do
  [ -s "$prefix/share/man/$page" ] || { echo "no manual page $page"; exit 1; }
done

# Through the CMake package; the version file must accept this version and refuse the next major.
cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_RPATH="$libdir" \
  >"$work/cmake.log"
cmake --build "$work/cmake" >>"$work/cmake.log"
next_major=$((${version%%.*} + 1))
if cmake -S "$here" -B "$work/cmake-major" -DCMAKE_PREFIX_PATH="$prefix" \
     -DNAX_WANT_VERSION="$next_major.0" >"$work/major.log" 2>&1; then
  echo "find_package accepted version $next_major.0 from a $version package"
  exit 1
fi

# As a subproject: configured only (building it would compile the library again).
cmake -S "$here/subproject" -B "$work/subproject" -DNAX_SOURCE_DIR="$here/../.." >"$work/subproject.log" ||
  { cat "$work/subproject.log"; exit 1; }

# Through pkg-config.
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion vedodiroz)" = "$version" ] || { echo "pkg-config version"; exit 1; }
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror "$here/consumer.c" -o "$work/consumer_pc" \
  $(pkg-config --cflags --libs vedodiroz) -Wl,-rpath,"$(pkg-config --variable=libdir vedodiroz)"

# The installed simulator serves the node all three talk to.
"$prefix/bin/naxsim" --port 0 --node 1 --marks 3 --events-every 300 >"$work/naxsim.out" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null' EXIT
conn=
for _ in $(seq 100); do
  conn=$(sed -n 's/^naxsim listening on \([^ ]*\) node.*/\1/p' "$work/naxsim.out")
  [ -n "$conn" ] && break
  kill -0 $sim || { echo "naxsim ended"; exit 1; }
  sleep 0.1
done
[ -n "$conn" ] || { echo "naxsim did not start"; exit 1; }

for consumer in "$work/cmake/consumer_shared" "$work/cmake/consumer_static" "$work/consumer_pc"; do
  "$consumer" "$conn" "$version"
done
"$work/cmake/host_example" "$conn" >"$work/host_example.out" ||
  { cat "$work/host_example.out"; exit 1; }
grep -q "^event user" "$work/host_example.out" || { echo "the C example saw no event"; exit 1; }
# The shared consumers use the installed library, not the build's.
ldd "$work/consumer_pc" | grep -q "$prefix" || { echo "consumer_pc not linked to the prefix"; exit 1; }
if ldd "$work/cmake/consumer_static" | grep -q libvedodiroz; then echo "consumer_static linked the shared library"; exit 1; fi
echo "installed tree consumed through CMake and pkg-config"
