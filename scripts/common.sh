# Shared by ./run.sh and ./test.sh: package installation and the build trees.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build

ensure_packages() {
  local want=() pkg
  while read -r pkg; do
    [[ -z $pkg || $pkg == \#* ]] && continue
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || want+=("$pkg")
  done < "$ROOT/scripts/packages.txt"
  if ((${#want[@]})); then
    echo "== installing: ${want[*]}"
    local sudo=""; [[ $(id -u) -ne 0 ]] && sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${want[@]}"
  fi
}

# configure_tree NAME [cmake args...]: configures build/NAME once, with Ninja.
configure_tree() {
  local name=$1; shift
  local dir=$BUILD/$name
  if [[ ! -f $dir/build.ninja ]]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@"
  else
    cmake "$dir" "$@" >/dev/null
  fi
}

build_tree() {
  cmake --build "$BUILD/$1" "${@:2}"
}

configure_windows() {
  configure_tree win32 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release -DROVEND_TESTS=OFF
  configure_tree win64 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
}
