#!/usr/bin/env bash
# run_gtest.sh TEST.exe [gtest args]: a GoogleTest program of the Windows
# tree under Wine.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
trap wine_stop EXIT
wine_x_server
wine_prefix
# A file-size limit stands for a full disk (the prefix is made without it):
# writes past it fail, and the signal that would end the program is ignored.
if [[ -n ${ROVEND_FILE_SIZE_LIMIT:-} ]]; then
  trap '' XFSZ
  ulimit -f $((ROVEND_FILE_SIZE_LIMIT / 1024))
fi
"$WINE" "$@"
