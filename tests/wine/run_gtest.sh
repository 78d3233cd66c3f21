#!/usr/bin/env bash
# run_gtest.sh TEST.exe [gtest args]: a GoogleTest program of the Windows
# tree under Wine.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
trap wine_stop EXIT
wine_x_server
wine_prefix
"$WINE" "$@"
