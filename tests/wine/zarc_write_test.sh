#!/usr/bin/env bash
# zarc_write_test.sh zarc.exe: the Windows build of zarc writes archives that
# the peers read (plain, classic and AES through CNG), and changes an archive
# in place through the Windows file calls: the new archive replaces the one
# zarc holds open, and nothing of the attempt is left beside it.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
zarc=$(realpath "$1")
out=${TEST_OUT:-$WINE_BUILD/test-out}
rm -rf "$out"; mkdir -p "$out/tree/sub/empty"
trap wine_stop EXIT
wine_x_server
wine_prefix

cd "$out"
for i in $(seq 1 5000); do echo "line $i of some text"; done > tree/a.txt
head -c 100000 /dev/urandom > tree/sub/noise.bin
echo hi > "tree/sub/файл.txt"

fail=0
check() {  # check WHAT COMMAND...: the command must succeed
  local what=$1; shift
  if ! "$@" >/dev/null 2>&1; then echo "FAIL: $what" >&2; fail=1; fi
}
check "create" "$WINE" "$zarc" create -q plain.zip tree </dev/null
check "create -P" "$WINE" "$zarc" create -q -P secret classic.zip tree </dev/null
check "create --aes 256" "$WINE" "$zarc" create -q -P secret --aes 256 aes.zip tree </dev/null
check "unzip plain" unzip -tqq plain.zip
check "7z plain" 7z t plain.zip
check "unzip classic" unzip -tqq -P secret classic.zip
check "7z aes" 7z t -psecret aes.zip
check "7z unicode name" 7z l plain.zip "tree/sub/файл.txt"
check "delete" "$WINE" "$zarc" delete plain.zip '*.bin' </dev/null
check "add" "$WINE" "$zarc" add -q plain.zip tree/sub/noise.bin </dev/null
check "rename" "$WINE" "$zarc" rename plain.zip tree/a.txt b.txt </dev/null
check "unzip after changes" unzip -tqq plain.zip
python3 - <<'PY' || fail=1
import zipfile
names = set(zipfile.ZipFile("plain.zip").namelist())
want = {"tree/", "b.txt", "tree/sub/", "tree/sub/empty/", "tree/sub/файл.txt", "tree/sub/noise.bin"}
if names != want:
    raise SystemExit("FAIL: entries after changes: %r" % sorted(names))
PY
if ls ./~za* ./.*.zarc-* >/dev/null 2>&1; then echo "FAIL: a temporary or lock file was left" >&2; fail=1; fi
exit $fail
