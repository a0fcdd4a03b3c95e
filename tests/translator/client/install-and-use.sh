#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds a client with pkg-config
# alone, registers both libraries with the installed regsvr and runs it.
set -euo pipefail
build=$1 compiler=$2
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
libdir=$(dirname "$(find "$scratch/prefix" -name rastrel.pc)")/..
export PKG_CONFIG_PATH=$libdir/pkgconfig RASTREL_REGISTRY=$scratch/registry.reg
"$compiler" "$here/client.cpp" $(pkg-config --cflags --libs rastrel) \
  -Wl,-rpath,"$libdir" -o "$scratch/client"
"$scratch/prefix/bin/regsvr" -s "$libdir/librastrel.so"
"$scratch/prefix/bin/regsvr" -s "$libdir/librastrel-thumbnail.so"
"$scratch/client" "$scratch/frame.stg"
# Read the whole listing first: grep -q stops at the first match and would
# break the writer's pipe.
streams=$(/usr/bin/python3 "$here/../../platform/olefile_dump.py" "$scratch/frame.stg")
grep -q '^NTSC601 699840 ' <<<"$streams"
echo "installed rastrel works"
