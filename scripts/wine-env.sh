# Sourced by the project's scripts: a Wine prefix that behaves like a pilot's
# Russian Windows, an X display for windows, and a way to run 32-bit code.
#   kolvarine_wine_up      start Xvfb, read the 32-bit route, boot the prefix
#   kolvarine_wine_down    stop the Wine server and our Xvfb
#   KOLVARINE_WINE32 / KOLVARINE_WINE64   the loaders to run .exe files with

KOLVARINE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$KOLVARINE_ROOT/scripts/i386-route.sh"
export WINEPREFIX=${KOLVARINE_WINEPREFIX:-$HOME/.cache/kolvarine/wine}
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes the ANSI code page from the locale: ru_RU gives 1251.
export LC_ALL=ru_RU.UTF-8
# With no resource database Xlib rereads ~/.Xdefaults for every pixmap Wine
# makes; one harmless resource keeps it loaded once.
export XENVIRONMENT="$KOLVARINE_ROOT/scripts/Xresources"
KOLVARINE_WINE64=/usr/lib/wine/wine64
KOLVARINE_DISPLAY=${KOLVARINE_DISPLAY:-:93}

kolvarine_start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  export DISPLAY=$KOLVARINE_DISPLAY
  if ! xdpyinfo >/dev/null 2>&1; then
    rm -f "/tmp/.X${DISPLAY#:}-lock"
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    KOLVARINE_XVFB_PID=$!
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  fi
}

# Which way 32-bit code runs here; scripts/setup (which every script runs
# first) has installed and registered what that way needs.
kolvarine_pick_route() {
  local entry
  read -r KOLVARINE_ROUTE entry < <(kolvarine_current_route)
  [ "$KOLVARINE_ROUTE" = qemu ] || return 0
  if ! kolvarine_entry_on "$entry"; then
    echo "wine-env: 32-bit code needs qemu here but binfmt_misc has no $entry entry; run scripts/setup" >&2
    return 1
  fi
  # qemu 7.2 cannot map Wine's shared user data without a reserved address space.
  export QEMU_RESERVED_VA=0xf7000000
}

# The prefix's own record: "ready" once its 32-bit side is set up, "i386-pending"
# while a boot through qemu has left that for the first 32-bit program.
kolvarine_prefix_state() { cat "$1/.kolvarine-prefix" 2>/dev/null; }

# Whether the prefix (WINEPREFIX or $1) must be booted from scratch: never
# booted, or booted by someone else, who may have had no 32-bit route then.
# A prefix of an earlier version of these scripts was booted whole on either route.
kolvarine_prefix_needs_boot() {
  local prefix=${1:-$WINEPREFIX}
  [ -f "$prefix/system.reg" ] || return 0
  [ -n "$(kolvarine_prefix_state "$prefix")" ] && return 1
  case "$(cat "$prefix/.kolvarine-route" 2>/dev/null)" in direct|qemu) return 1 ;; esac
  return 0
}

# Boots the prefix named by WINEPREFIX (or $1) unless it is booted already.
kolvarine_boot_prefix() {
  local prefix=${1:-$WINEPREFIX} state=ready
  if kolvarine_prefix_needs_boot "$prefix"; then
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    if [ "$KOLVARINE_ROUTE" = qemu ]; then
      # wineboot's only 32-bit step, the WoW64 part of wine.inf, takes two
      # minutes or more through qemu, and 64-bit programs never need it. A
      # reserved size qemu cannot read ends that process at once; the first
      # 32-bit program run here does the step (kolvarine_ready_i386).
      WINEPREFIX=$prefix QEMU_RESERVED_VA=none-while-booting "$KOLVARINE_WINE64" wineboot -i >/dev/null 2>&1 || true
      state=i386-pending
    else
      WINEPREFIX=$prefix "$KOLVARINE_WINE64" wineboot -i >/dev/null 2>&1 || true
    fi
    # Unmanaged windows: with no window manager under Xvfb, Wine otherwise
    # waits about two seconds whenever a window is hidden or destroyed.
    WINEPREFIX=$prefix "$KOLVARINE_WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
      >/dev/null 2>&1 || true
    kolvarine_quiet_crashes "$prefix"
    # Bounded: a first boot that never settles must not hold a CI run for good.
    WINEPREFIX=$prefix timeout 600 wineserver -w
    echo "$state" > "$prefix/.kolvarine-prefix"
  elif ! grep -q '"ShowCrashDialog"=dword:00000000' "$prefix/user.reg" 2>/dev/null; then
    # A prefix booted before crashes were made quiet. A server someone else
    # runs for it is left running; one started here for this is waited out.
    local running=
    kolvarine_server_pid "$prefix" >/dev/null && running=1
    kolvarine_quiet_crashes "$prefix"
    [ -n "$running" ] || WINEPREFIX=$prefix timeout 600 wineserver -w
  fi
}

# Sets up the 32-bit side of a prefix booted without it, once: wineboot's
# own step, with its streams on /dev/null like the prefix's services. Until
# it has run, syswow64 is empty, and only a process in Wine's bootstrap mode
# (as wineboot's children are) may load its DLLs without their files there.
kolvarine_ready_i386() {
  local prefix=${1:-$WINEPREFIX} inf
  [ "$(kolvarine_prefix_state "$prefix")" = i386-pending ] || return 0
  (
    flock 9
    [ "$(kolvarine_prefix_state "$prefix")" = i386-pending ] || exit 0
    echo "wine-env: setting up the 32-bit side of $prefix$([ "${KOLVARINE_ROUTE:-}" != qemu ] \
      || echo ' (two minutes or more through qemu)')" >&2
    inf=$(readlink -f /usr/share/wine/wine.inf)
    inf='\\?\Z:'${inf//\//\\}  # as wineboot names it: \\?\Z:\usr\share\wine\wine.inf
    WINEPREFIX=$prefix WINEBOOTSTRAPMODE=1 "$KOLVARINE_WINE32" 'C:\windows\syswow64\rundll32.exe' \
      setupapi,InstallHinfSection Wow64Install 128 "$inf" </dev/null >/dev/null 2>&1
    if [ -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ]; then
      echo ready > "$prefix/.kolvarine-prefix"
    else
      echo "wine-env: the 32-bit side of $prefix was not set up" >&2
      exit 1
    fi
  ) 9>"$prefix/.kolvarine-prefix.lock"
}

# A program that crashes ends at once with its backtrace on stderr: winedbg's
# crash dialog would wait under Xvfb for a click until the suite's time limit.
kolvarine_quiet_crashes() {
  WINEPREFIX=$1 "$KOLVARINE_WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1 || true
}

# Prints the pid of the Wine server running for the prefix (WINEPREFIX or $1);
# fails when there is none. A server works in a folder named after the
# prefix's device and inode, so another prefix's server never counts.
kolvarine_server_pid() {
  local prefix=${1:-$WINEPREFIX} dev ino pid
  read -r dev ino < <(stat -L -c '%D %i' "$prefix" 2>/dev/null) || return 1
  local folder
  folder=$(printf 'server-%x-%x' "0x$dev" "$ino")
  for pid in $(pgrep -x 'wineserver(64)?'); do
    if [ "$(basename "$(readlink "/proc/$pid/cwd" 2>/dev/null)")" = "$folder" ]; then
      echo "$pid"
      return 0
    fi
  done
  return 1
}

# Keeps one server for the whole run: each new server costs seconds. A server
# someone else started for this prefix (another run, a developer's shell) is
# left to them.
# The first program of a fresh server starts the prefix's services
# (services.exe, winedevice.exe, ...), which inherit its standard streams and
# live as long as the server: started from a pipe, they would hold it open
# and whoever reads it would never see its end. So they are started here, by
# wineboot with its streams on /dev/null, before any program of ours runs
# (a server someone else started has its services already).
kolvarine_keep_server() {
  if kolvarine_server_pid >/dev/null; then KOLVARINE_OWN_SERVER=; else KOLVARINE_OWN_SERVER=1; fi
  wineserver -p </dev/null >/dev/null 2>&1 || true
  if [ -n "$KOLVARINE_OWN_SERVER" ]; then "$KOLVARINE_WINE64" wineboot </dev/null >/dev/null 2>&1 || true; fi
}

kolvarine_wine_up() {
  kolvarine_start_xvfb
  kolvarine_pick_route || return 1
  kolvarine_boot_prefix
  kolvarine_keep_server
}

kolvarine_wine_down() {
  if [ -n "${KOLVARINE_OWN_SERVER:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  kolvarine_stop_xvfb
}

# Stops the Xvfb this shell started, and nothing else.
kolvarine_stop_xvfb() {
  if [ -n "${KOLVARINE_XVFB_PID:-}" ]; then
    kill "$KOLVARINE_XVFB_PID" 2>/dev/null || true
    wait "$KOLVARINE_XVFB_PID" 2>/dev/null || true  # reaped here, not left to init
    KOLVARINE_XVFB_PID=
  fi
}

# Prints the loader that fits a Windows program's machine type; a 32-bit
# program first gets the prefix's 32-bit side ready.
kolvarine_loader() {
  if LC_ALL=C file -b "$1" | grep -q 'PE32+'; then
    echo "$KOLVARINE_WINE64"
  else
    kolvarine_ready_i386 || return 1
    echo "$KOLVARINE_WINE32"
  fi
}

# Runs a Windows program with the loader that fits it.
kolvarine_run_exe() {
  local loader
  loader=$(kolvarine_loader "$1") || return 1
  "$loader" "$@"
}
