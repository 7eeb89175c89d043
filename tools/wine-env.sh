# Sourced by the scripts that run the widget under Wine. `use_wine_for EXE DIR` sets WINEARCH
# for EXE, and for a 64-bit EXE puts into DIR/bin a `wine` that starts Wine's 64-bit loader:
# Debian's own starts the 32-bit loader whenever it is installed, even on a kernel that cannot
# run it (booted with ia32_emulation=off). `can_run_32bit` tells whether this kernel can.

can_run_32bit() {
  wine --version >/dev/null 2>&1
}

use_wine_for() {
  local exe=$1 dir=$2 header
  header=$(od -An -tu4 -j 60 -N 4 "$exe" | tr -d ' ')
  if [[ $(od -An -tx1 -j "$header" -N 6 "$exe" | tr -d ' ') != 504500006486 ]]; then
    export WINEARCH=win32
    return
  fi
  mkdir -p "$dir/bin"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$dir/bin/$name"
    chmod +x "$dir/bin/$name"
  done
  export PATH=$dir/bin:$PATH WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
}
