# Sourced by the other scripts: where things are, the private Wine prefix and its settings.
# Needs wine (scripts/setup.sh installs it); KELVANE_BUILD may name another build folder.

KELVANE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
: "${KELVANE_BUILD:=$KELVANE_ROOT/build}"
KELVANE_BIN="$KELVANE_BUILD/bin"
# The build with the host compiler: what runs on Linux itself.
KELVANE_NATIVE="$KELVANE_BUILD/native"
export KELVANE_ROOT KELVANE_BUILD KELVANE_BIN KELVANE_NATIVE

export WINEPREFIX="$KELVANE_BUILD/wineprefix"
export WINEDEBUG=-all
# No prompts to install Wine's .NET and HTML engines: the program needs neither. No menu
# entries on the desktop for the shortcuts an installer makes in a prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Starts the prefix's Wine server with its own log: a server ended while clients still run dumps
# its objects to its standard error, which is no one's business on the terminal.
wine_server_start() {
    wineserver -p3 2>>"$KELVANE_BUILD/wineserver.log" || true
}

# Imports a registry file written in UTF-8: regedit wants UTF-16 for text beyond ASCII (the
# Korean font name), whatever the locale of the shell.
wine_import_reg() {
    local utf16="$KELVANE_BUILD/.import.reg"
    { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$1"; } > "$utf16"
    wine regedit /S "$(winepath -w "$utf16" 2>/dev/null)"
    wineserver -w
}

# Creates the prefix once and applies the settings the program and its tests rely on.
wine_prefix_ready() {
    mkdir -p "$KELVANE_BUILD"
    if [ ! -f "$WINEPREFIX/.kelvane-ready" ]; then
        echo "== preparing the Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        wine_server_start
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w
        local reg="$KELVANE_BUILD/.prefix.reg"
        # Managed=N: without a window manager Wine would wait 2 s each time a window hides.
        # The dialogs ask for the font 굴림; a Korean font from the system stands in for it.
        cat > "$reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"굴림"="NanumGothic"
REG
        wine_import_reg "$reg"
        # Debian's Wine does not find its own Marlett, which draws the caption buttons; a copy in
        # the prefix's font folder is found.
        local marlett=/usr/share/wine/fonts/marlett.ttf
        [ -f "$marlett" ] && cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
        touch "$WINEPREFIX/.kelvane-ready"
    fi
}

# Maps COM names to Unix devices in the prefix (pairs of NAME PATH). Wine rewrites its
# dosdevices links from this key when it starts, so the Wine server is restarted; links must
# not be made by hand.
wine_map_ports() {
    local reg="$KELVANE_BUILD/.ports.reg"
    {
        printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
        while [ $# -ge 2 ]; do
            printf '"%s"="%s"\n' "$1" "$2"
            shift 2
        done
    } > "$reg"
    wine_import_reg "$reg"
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    wine_server_start
}

# Maps every COM name the panel offers (COM1 to COM15) and the simulator's COM16 to an empty
# folder, so nothing can reach this machine's real serial ports through Wine; callers map the
# ones they use afterwards. Wine refuses to open a folder as a port, as Windows refuses a COM name
# with nothing behind it; a path that does not exist would open and then fail every call.
wine_unplug_ports() {
    local args=() n
    mkdir -p "$KELVANE_BUILD/unplugged"
    for n in $(seq 1 16); do args+=("COM$n" "$KELVANE_BUILD/unplugged"); done
    wine_map_ports "${args[@]}"
}
