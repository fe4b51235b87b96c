# Sourced by the run, test and screenshot scripts: a throwaway Wine prefix with a wineserver that
# stays up for the whole run, and a virtual display. Everything is removed again on exit.

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64

nimbrel_cleanup_dirs=()
nimbrel_cleanup_pids=()

nimbrel_cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  for pid in "${nimbrel_cleanup_pids[@]}"; do kill "$pid" >/dev/null 2>&1 || true; done
  for dir in "${nimbrel_cleanup_dirs[@]}"; do rm -rf "$dir"; done
}
trap nimbrel_cleanup EXIT

# nimbrel_start_display: an Xvfb of our own; DISPLAY points at it.
nimbrel_start_display() {
  local n=${NIMBREL_DISPLAY_NUMBER:-$((90 + RANDOM % 400))}
  while [ -e "/tmp/.X${n}-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  nimbrel_cleanup_pids+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "Xvfb did not start on $DISPLAY" >&2
  return 1
}

# nimbrel_start_prefix: a new prefix under /tmp, booted once, its wineserver kept alive.
nimbrel_start_prefix() {
  WINEPREFIX=$(mktemp -d /tmp/nimbrel-wine.XXXXXX)
  export WINEPREFIX
  nimbrel_cleanup_dirs+=("$WINEPREFIX")
  wineserver -p
  wineboot -i >/dev/null 2>&1
  # A fresh prefix reports Windows 7; users' machines run Windows 10 or later. Tests of the
  # older-Windows branches ask for their version through NIMBREL_WINDOWS_VERSION (win7, win8...).
  wine winecfg -v "${NIMBREL_WINDOWS_VERSION:-win10}" >/dev/null 2>&1
  nimbrel_font_links
  # Xvfb has no window manager: Wine draws the title bars itself, so screenshots show them.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
  # A process that crashes prints its backtrace and ends. Wine's crash dialog would keep it
  # stopped until someone answers, and nobody does here: a crashed desktop process (explorer.exe,
  # started again by whichever program next needs the desktop) would then hold every later
  # window that talks to the shell.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
}

# Wine's dialog fonts fall back to host fonts for scripts they lack: Korean through Nanum, Chinese
# and Japanese through WenQuanYi, the rest through DejaVu. (regedit takes hex(7) data as
# characters here, so the list is written as plain bytes.)
nimbrel_font_links() {
  local reg=$WINEPREFIX/fontlink.reg
  local list hex
  list='NanumGothic.ttf,NanumGothic\0wqy-microhei.ttc,WenQuanYi Micro Hei\0DejaVuSans.ttf,DejaVu Sans\0\0'
  hex=$(printf "$list" | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//')
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
    for face in "Tahoma" "Segoe UI" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
      printf '"%s"=hex(7):%s\r\n' "$face" "$hex"
    done
  } > "$reg"
  wine regedit /S "$reg" >/dev/null 2>&1 || true
}

# nimbrel_ui_font LANGUAGE: the interface font a Windows of that language brings. This Wine finds
# no Tahoma and links no fonts: a missing face is drawn in the first font of its link list,
# NanumGothic, which has the Korean letters but lacks some Latin ones (the Italian "ì"). Latin and
# Cyrillic languages get DejaVu Sans; Wine shapes Arabic only with the font asked for.
nimbrel_ui_font() {
  local face="DejaVu Sans"
  case "$1" in
    ko) face= ;;
    zh|ja) face="WenQuanYi Micro Hei" ;;
  esac
  local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
  for name in "Segoe UI" "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2"; do
    if [ -n "$face" ]; then
      wine reg add "$key" /v "$name" /d "$face" /f >/dev/null 2>&1 || true
    else
      wine reg delete "$key" /v "$name" /f >/dev/null 2>&1 || true
    fi
  done
}
