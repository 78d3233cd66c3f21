#!/usr/bin/env bash
# zarc_test.sh zarc.exe: the Windows build of zarc decrypts archives of 7z
# (AES-256) and Info-ZIP (classic) with -P, through CNG, and turns a wrong
# password away without writing anything; with no terminal on its input it
# asks nothing, at a console (a pseudo-terminal) it asks without echo. An
# entry stored as a symbolic link comes out as a file holding its text.
# Archives go through pipes both ways with every byte.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
zarc=$(realpath "$1")
out=${TEST_OUT:-$WINE_BUILD/test-out}
rm -rf "$out"; mkdir -p "$out/in"
trap wine_stop EXIT
wine_x_server
wine_prefix

cd "$out/in"
for i in $(seq 1 3000); do echo "line $i of the text to keep secret"; done > text.txt
7z a -tzip -pkeystone -mem=AES256 ../aes.zip text.txt >/dev/null
zip -q -P keystone ../classic.zip text.txt
cd "$out"

# Split archives of both naming schemes, for the volume names below.
head -c 150000 /dev/urandom > in/noise.bin
mkdir -p sets
(cd in && zip -q -s 64k ../sets/split.zip text.txt noise.bin && 7z a -tzip -v64k ../sets/pieces.zip text.txt noise.bin >/dev/null)

# extract_with NAME PASSWORD: extracts NAME.zip into out-NAME, prints the
# exit status. zarc always ends with a summary or a message; a run that
# printed nothing at all never reached it (Wine on a busy machine, now and
# then), so that run is made once more, and said.
extract_with() {
  local rc attempt
  for attempt in 1 2; do
    rm -rf "out-$1"
    rc=0
    "$WINE" "$zarc" extract -q -P "$2" "$1.zip" -d "out-$1" </dev/null >"$1.log" 2>&1 || rc=$?
    [[ -s $1.log ]] && break
    echo "note: zarc printed nothing (status $rc) for $1.zip; running it again" >&2
  done
  echo "$rc"
}

for name in aes classic; do
  check "$name: the right password extracts the file" test "$(extract_with "$name" keystone)" = 0
  check "$name: the file is the original" cmp -s "out-$name/text.txt" in/text.txt
  # The classic check is one byte: one wrong password in 256 passes it and
  # the entry fails on its CRC instead (status 2), so only AES must say why.
  rc=$(extract_with "$name" keyst0ne)
  check "$name: a wrong password fails" test "$rc" = 82 -o \( "$name" = classic -a "$rc" = 2 \)
  check "$name: and writes nothing" test ! -e "out-$name/text.txt"
  if [[ $name == aes ]]; then
    check "$name: and says so" grep -q "skipped, wrong or missing password" "$name.log"
    grep -q "skipped, wrong or missing password" "$name.log" || sed 's/^/  zarc said: /' "$name.log"
  fi
done
rc=0
"$WINE" "$zarc" test aes.zip </dev/null >noterm.log 2>&1 || rc=$?
check "without -P and a terminal nothing is asked and the entry fails" test "$rc" = 82
check "no prompt was shown" bash -c "! grep -q 'password: ' noterm.log"
check "at a console a wrong answer is asked for again, the right one taken, neither shown" \
  python3 "$(dirname "$(realpath "$0")")/zarc_prompt.py" "$WINE" "$zarc" aes.zip keyst0ne keystone
# Split archives named by either end, with Windows separators: the volume
# names are made from the name given.
last_piece=$(ls sets/pieces.zip.* | sort | tail -1)
for name in 'sets\split.zip' 'sets\split.z01' 'sets\pieces.zip.001' "${last_piece//\//\\}"; do
  for attempt in 1 2; do
    rm -rf out-split
    rc=0
    "$WINE" "$zarc" extract -q "$name" -d out-split </dev/null >split.log 2>&1 || rc=$?
    [[ -s split.log ]] && break
  done
  check "$name: the split archive extracts" test "$rc" = 0
  check "$name: with every byte" bash -c "cmp -s out-split/text.txt in/text.txt && cmp -s out-split/noise.bin in/noise.bin"
  [[ $rc == 0 ]] || sed 's/^/  zarc said: /' split.log
done
mv sets/split.z02 sets/split.z02.away
rc=0
"$WINE" "$zarc" test -q 'sets\split.zip' </dev/null >missing.log 2>&1 || rc=$?
check "a missing volume stops the work" test "$rc" = 3
check "and is named" grep -q 'cannot find volume sets.split.z02' missing.log
# Many entries in several folders: the output files made ahead on helper
# threads land where they belong, and none is left behind.
mkdir -p tree/a tree/b/c
for i in $(seq 1 40); do echo "entry $i" > "tree/$(( i % 2 ? 1 : 0 )).$i"; echo "$i" > "tree/b/c/$i.txt"; done
mv tree/1.* tree/a/
(cd tree && zip -qr ../tree.zip .)
"$WINE" "$zarc" extract -q tree.zip -d tree-out </dev/null >tree.log 2>&1 || true
check "a tree of entries comes out as it went in" diff -r tree tree-out
check "no file of our own stays behind" bash -c "! find tree-out -name '~za*' | grep -q ."
# The system's reason comes in the ANSI code page (1251 here) and must
# reach the output as UTF-8 like everything else zarc prints.
touch blocker
LC_ALL=ru_RU.UTF-8 "$WINE" "$zarc" extract -q tree.zip -d 'blocker\x' </dev/null >reason.log 2>&1 || true
check "the system's reason is written in UTF-8" python3 -c '
import sys
text = open(sys.argv[1], "rb").read().decode("utf-8")
sys.exit(0 if any(ord(c) > 0x7F for c in text) else 1)' reason.log
# Windows makes no links here: an entry stored as a link is written as a
# file holding its text, and zarc says so, with the warning status.
python3 - links.zip <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("target.txt", "the target\n")
    info = zipfile.ZipInfo("sub/link.txt", (2024, 3, 1, 12, 0, 0))
    info.create_system = 3
    info.external_attr = 0o120777 << 16
    z.writestr(info, "../target.txt")
PY
for attempt in 1 2; do
  rm -rf links-out
  rc=0
  "$WINE" "$zarc" extract -q links.zip -d links-out </dev/null >links.log 2>&1 || rc=$?
  [[ -s links.log ]] && break
done
check "a link entry comes out as a file" test -f links-out/sub/link.txt
check "holding the link's text" test "$(cat links-out/sub/link.txt)" = ../target.txt
check "the other entries as they are" test "$(cat links-out/target.txt)" = "the target"
check "zarc says the link was written as a file" \
  grep -qF "link to '../target.txt' written as a file holding its text: this system makes no links" links.log
check "and ends with the warning status" test "$rc" = 1
check "which the summary counts" grep -q "2 files extracted, 0 failed, 1 warning" links.log
[[ $rc == 1 ]] || sed 's/^/  zarc said: /' links.log
# Pipes carry bytes, not text: a carriage return, a Ctrl-Z or a NUL in the
# archive must neither be turned nor end the stream on either side.
printf 'one\r\ntwo\n\x1athree\x00\xff' > in/binary.bin
head -c 300000 /dev/urandom >> in/binary.bin
(cd in && zip -q ../piped-in.zip binary.bin text.txt)
rm -rf pipe-out; mkdir pipe-out
rc=0
cat piped-in.zip | (cd pipe-out && "$WINE" "$zarc" extract -q -) >pipe.log 2>&1 || rc=$?
check "an archive read from a pipe extracts" test "$rc" = 0
check "with every byte" bash -c "cmp -s pipe-out/binary.bin in/binary.bin && cmp -s pipe-out/text.txt in/text.txt"
[[ $rc == 0 ]] || sed 's/^/  zarc said: /' pipe.log
rc=0
(cd in && "$WINE" "$zarc" create - binary.bin text.txt </dev/null 2>../pipe-create.log | cat >../piped-out.zip) || rc=$?
check "an archive written to a pipe is whole" bash -c "unzip -tq piped-out.zip >/dev/null"
check "and holds every byte" bash -c "unzip -p piped-out.zip binary.bin | cmp -s - in/binary.bin"
check_summary
