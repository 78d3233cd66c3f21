#!/usr/bin/env bash
# check_payload_test.sh: the configure-time check of an administrator's
# payload folder names every missing file and every line of the host list
# that is no host name, and passes a good folder; the test payload's
# installer package is the same on every build.
set -uo pipefail
check=$ROVEND_SOURCE_DIR/cmake/check_payload.py
dir=$(mktemp -d); trap 'rm -rf "$dir"' EXIT
failures=0
expect() {  # expect DESCRIPTION PATTERN: the last run's faults hold PATTERN
  if grep -qF -- "$2" "$dir/faults"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}

mkdir "$dir/good" "$dir/bad"
for name in capicom.dll capicom.inf capicom2.msi casert.sst certmgr.exe rootsert.sst; do : > "$dir/good/$name"; done
# As editors save it: a byte-order mark, blanks around hosts, a last line
# without its line end; sub-domains with a backslash.
printf '\xef\xbb\xbf torgi.example\r\n\tedo.example \r\nhost.example\\www\r\n\r\nlast-1.example' > "$dir/good/url.txt"
python3 "$check" "$dir/good" 2> "$dir/faults"
status=$?
if [[ $status -eq 0 && ! -s $dir/faults ]]; then echo "ok: a good folder passes"; else
  echo "FAILED: a good folder passes"; cat "$dir/faults"; failures=$((failures + 1)); fi

: > "$dir/bad/capicom.dll"
printf 'ok.example\r\nhttps://host.example/\r\n# hosts\r\nsp ace.example\r\n\xef\xf0\xe8\xec\xe5\xf0.\xf0\xf4\r\nunder_score.example\r\n\\lead.example\r\n%s\r\n' \
  "$(printf 'a%.0s' $(seq 81))" > "$dir/bad/url.txt"
python3 "$check" "$dir/bad" 2> "$dir/faults"
status=$?
[[ $status -eq 1 ]] && echo "ok: a bad folder fails" || { echo "FAILED: a bad folder fails ($status)"; failures=$((failures + 1)); }
expect "every missing file at once" "lacks capicom.inf, capicom2.msi, casert.sst, certmgr.exe, rootsert.sst"
expect "a URL" "url.txt:2: 'https://host.example/': a URL"
expect "a comment" "url.txt:3: '# hosts': a comment"
expect "a blank inside" "url.txt:4: 'sp ace.example': a blank inside"
expect "a host in the ANSI code page outside ASCII, with its ASCII form" "url.txt:5: 'пример.рф': not ASCII; the zone map needs the ASCII form of the name xn--e1afmkfd.xn--p1ai"
expect "a character outside host names" "url.txt:6: 'under_score.example': holds '_'"
expect "an empty name beside a backslash" "url.txt:7:"
expect "a line longer than the program reads" "url.txt:8:"
[[ $(wc -l < "$dir/faults") -eq 8 ]] && echo "ok: nothing else named" || { echo "FAILED: nothing else named"; cat "$dir/faults"; failures=$((failures + 1)); }
# The test installer package: two builds, the same bytes.
if command -v wixl >/dev/null; then
  source=$ROVEND_SOURCE_DIR/resources/payload
  python3 "$source/build_test_msi.py" "$(command -v wixl)" "$source/capicom2.wxs" "$dir/a.msi"
  sleep 1.1  # into another second of the clock
  python3 "$source/build_test_msi.py" "$(command -v wixl)" "$source/capicom2.wxs" "$dir/b.msi"
  if cmp -s "$dir/a.msi" "$dir/b.msi"; then echo "ok: the test package is built the same twice"; else
    echo "FAILED: the test package is built the same twice"; failures=$((failures + 1)); fi
fi
echo "$failures failed"
exit $((failures > 0))
