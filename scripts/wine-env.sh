# Sourced by the project's scripts: the Wine environment every Windows program here runs in.
# Picks the 32-bit Wine loader where this machine can run 32-bit code; otherwise the 64-bit
# one, and the tests then run a 64-bit build of the same sources (see README, "How the tests run").
b2t_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [ -z "${B2T_ARCH:-}" ]; then
  if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    B2T_ARCH=i686
  else
    B2T_ARCH=x86_64
  fi
fi
export B2T_ARCH
if [ "$B2T_ARCH" = i686 ]; then
  export B2T_WINE=/usr/lib/wine/wine
else
  export B2T_WINE=/usr/lib/wine/wine64
fi
export WINELOADER=$B2T_WINE
if [ -x /usr/lib/wine/wineserver64 ]; then export WINESERVER=/usr/lib/wine/wineserver64
else export WINESERVER=/usr/lib/wine/wineserver32; fi
export WINEPREFIX=${WINEPREFIX:-$b2t_repo/build/wineprefix-$B2T_ARCH}
export WINEDEBUG=${WINEDEBUG:--all}
# Code page 936: the program's texts are GBK byte strings.
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
# The build tree for the tests: the product itself where it can run, else the 64-bit twin.
if [ "$B2T_ARCH" = i686 ]; then b2t_test_build=$b2t_repo/build
else b2t_test_build=$b2t_repo/build/test-x86_64; fi

b2t_build() {  # builds the product (and, where needed, the 64-bit twin the tests run)
  cmake -S "$b2t_repo" -B "$b2t_repo/build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$b2t_repo/cmake/mingw-i686.cmake" \
        -DBUILD_TESTING=$([ "$B2T_ARCH" = i686 ] && echo ON || echo OFF) >/dev/null
  cmake --build "$b2t_repo/build" -j"$(nproc)"
  if [ "$B2T_ARCH" != i686 ]; then
    cmake -S "$b2t_repo" -B "$b2t_test_build" -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$b2t_repo/cmake/mingw-x86_64.cmake" \
          -DB2T_PRODUCT_EXE="$b2t_repo/build/bin/bookmarks2txt.exe" >/dev/null
    cmake --build "$b2t_test_build" -j"$(nproc)"
  fi
}

b2t_display_pid=""
b2t_start_session() {  # a virtual display and one persistent wineserver for many short runs
  if [ -z "${DISPLAY:-}" ] || [ "${B2T_FORCE_XVFB:-}" = 1 ]; then
    local n=$((90 + RANDOM % 100))
    while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    b2t_display_pid=$!
    export DISPLAY=:$n
    for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
  fi
  mkdir -p "$WINEPREFIX"
  ("$WINESERVER" -p &)
  "$B2T_WINE" wineboot -i >/dev/null 2>&1 || true
}

b2t_end_session() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  if [ -n "$b2t_display_pid" ]; then kill "$b2t_display_pid" 2>/dev/null || true; fi
}
