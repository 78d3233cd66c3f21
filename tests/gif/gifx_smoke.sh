#!/usr/bin/env bash
# gifx_smoke.sh GIFX: gifx describes an animation made by ImageMagick and
# writes its frames composed exactly as ImageMagick composes them.
set -euo pipefail
gifx=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
convert -seed 3 -delay 5 -size 60x40 plasma:fractal \( -size 20x10 xc:lime \) \
  \( -size 30x30 xc:none -fill red -draw 'circle 15,15 20,20' \) \
  -set dispose Previous -loop 2 -layers Optimize anim.gif
"$gifx" info anim.gif > info.txt
grep -q '^logical screen: 60 x 40' info.txt
grep -q 'loop count 1' info.txt
[[ $(grep -c 'crc32 [0-9a-f]\{8\}' info.txt) -eq 3 ]]
grep -q '^warnings: none' info.txt
"$gifx" frames anim.gif out > /dev/null
convert anim.gif -coalesce PNG32:ref-%d.png
for i in 0 1 2; do
  diff=$(compare -metric AE "out/frame-00$i.png" "ref-$i.png" null: 2>&1 || true)
  [[ $diff == 0 ]] || { echo "frame $i differs in $diff pixels"; exit 1; }
done
# A damaged file: the frames read before the fault are shown, the error named.
head -c 600 anim.gif > cut.gif
if "$gifx" info cut.gif > cut.txt; then echo "cut file reported as good"; exit 1; fi
grep -q '^error: ' cut.txt || grep -q '^warnings: [1-9]' cut.txt
missing=$("$gifx" info missing.gif 2>&1 || true)
[[ $missing == *"Cannot open file"* ]]
echo "gifx smoke test passed"
