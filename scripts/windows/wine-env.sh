# shellcheck shell=bash
# Sourced, not run: points wine at a 32-bit prefix of the build folder's own, so runs of the
# Windows programs neither touch ~/.wine nor depend on it.
# wine_env BUILD_DIR   exports WINE_ENV (also kept as an array, for commands such as CTest's
#                      emulator) and creates BUILD_DIR/wineprefix once (about 5 s)

wine_env() {
    # The overrides keep wineboot from offering to download Mono and Gecko; the offscreen
    # platform of Qt on Windows finds fonts only through QT_QPA_FONTDIR.
    WINE_ENV=(WINEPREFIX="$1/wineprefix" WINEARCH=win32 WINEDEBUG=-all
        WINEDLLOVERRIDES="mscoree,mshtml=" QT_QPA_FONTDIR=Z:/usr/share/fonts/truetype/wqy)
    export "${WINE_ENV[@]}"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Creating the wine prefix $WINEPREFIX"
        mkdir -p "$1"
        if ! { wineboot -i && wineserver -w; } >"$1/wineboot.log" 2>&1; then
            cat "$1/wineboot.log" >&2
            return 1
        fi
    fi
}
