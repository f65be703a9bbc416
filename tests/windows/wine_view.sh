# Sourced. Wine's regsvr32, reg and cscript see the registry view of their loader's bitness.
# Usage: wine_for_view WINE_RUN VIEW (64 or 32); then run "$WINE_LOADER" PROGRAM ARGS...
wine_for_view() {
  # The project's wine-run makes the prefix on first use.
  "$1" cmd /c exit >/dev/null 2>&1 || true
  export WINEPREFIX="${QUARROW2_WINEPREFIX:-${HOME:-/root}/.cache/quarrow2/wine}"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  if [ "$2" = 64 ]; then
    WINE_LOADER=$(command -v wine64 || echo /usr/lib/wine/wine64)
  else
    WINE_LOADER=$(command -v wine)
  fi
}
