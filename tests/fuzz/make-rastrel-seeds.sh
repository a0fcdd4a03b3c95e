#!/usr/bin/env bash
# Writes the seed inputs of rastrel's fuzz targets into corpus/. Compound
# files come from gsf (libgsf-bin), an implementation independent of ours.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p corpus/fuzz_registry_file corpus/fuzz_compound_file corpus/fuzz_compound_bitmap
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > corpus/fuzz_registry_file/classes.reg <<'REG'
REGEDIT4

[HKEY_CLASSES_ROOT\CLSID\{C500588A-AB3B-11CE-8468-0000B468276B}\InprocServer32]
@="/usr/lib/librastrel.so"
"ThreadingModel"="Both"

[HKEY_CLASSES_ROOT\Quoted \"name\"]
"Count"=dword:0000002a
"Blob"=hex:00,01,02,fe,ff,\
  10,20
"Text"=hex(1):61,0a,62,00
"Gone"=-

[-HKEY_CLASSES_ROOT\Removed]
REG

/usr/bin/python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]
os.makedirs(f"{work}/small/Inner", exist_ok=True)
open(f"{work}/small/Tiny", "wb").write(b"hello")
open(f"{work}/small/Sector", "wb").write(bytes(range(256)) * 20)
open(f"{work}/small/Inner/Deep", "wb").write(b"x" * 100)
os.makedirs(f"{work}/frame", exist_ok=True)
open(f"{work}/frame/NTSC601", "wb").write(bytes((i * 7) & 255 for i in range(699840)))
os.makedirs(f"{work}/short", exist_ok=True)
open(f"{work}/short/NTSC601", "wb").write(b"\x80\x10" * 3000)
open(f"{work}/short/NTSCALPHA", "wb").write(b"\xff" * 1000)
PY
(cd "$work/small" && gsf createole "$OLDPWD/corpus/fuzz_compound_file/gsf-small.cfb" Tiny Sector Inner >/dev/null)
(cd "$work/frame" && gsf createole "$OLDPWD/corpus/fuzz_compound_bitmap/gsf-frame.stg" NTSC601 >/dev/null)
(cd "$work/short" && gsf createole "$OLDPWD/corpus/fuzz_compound_bitmap/gsf-short-alpha.stg" NTSC601 NTSCALPHA >/dev/null)
