# Sourced by the project's scripts: a Wine prefix that behaves like a pilot's
# Russian Windows, an X display for windows, and a way to run 32-bit code.
#   kolvarine_wine_up      start Xvfb, pick the 32-bit route, boot the prefix
#   kolvarine_wine_down    stop the Wine server and our Xvfb
#   KOLVARINE_WINE32 / KOLVARINE_WINE64   the loaders to run .exe files with

KOLVARINE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${KOLVARINE_WINEPREFIX:-$HOME/.cache/kolvarine/wine}
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes the ANSI code page from the locale: ru_RU gives 1251.
export LC_ALL=ru_RU.UTF-8
# With no resource database Xlib rereads ~/.Xdefaults for every pixmap Wine
# makes; one harmless resource keeps it loaded once.
export XENVIRONMENT="$KOLVARINE_ROOT/scripts/Xresources"
KOLVARINE_WINE32=/usr/lib/wine/wine
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

# Some kernels run 32-bit ELF code, some say "Exec format error". On the latter,
# qemu-i386 runs Wine's 32-bit half through a binfmt_misc entry. A forced run
# registers its entry under a name of its own and the next ordinary run removes
# it: binfmt_misc comes before the kernel's own ELF loader, so an entry left
# behind would send all 32-bit code through qemu on a route called direct.
kolvarine_pick_route() {
  local misc=/proc/sys/fs/binfmt_misc entry=kolvarine-i386
  KOLVARINE_ROUTE=direct
  if [ -z "${KOLVARINE_FORCE_QEMU:-}" ]; then
    [ -f "$misc/kolvarine-i386-forced" ] && { echo -1 > "$misc/kolvarine-i386-forced"; } 2>/dev/null
    "$KOLVARINE_WINE32" --version >/dev/null 2>&1 && return 0
  else
    entry=kolvarine-i386-forced
    # On a kernel that needs qemu the entry of the ordinary route serves as well.
    [ -f "$misc/kolvarine-i386" ] && entry=kolvarine-i386
  fi
  KOLVARINE_ROUTE=qemu
  if ! command -v qemu-i386-static >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null 2>&1 \
      || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
             qemu-user-static >/dev/null 2>&1; }
  fi
  [ -f "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc"
  if [ ! -f "$misc/$entry" ]; then
    # i386 ELF executables; F opens the interpreter now, so it works inside any root.
    printf '%s' ":$entry"':M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' > "$misc/register"
  fi
  # qemu 7.2 cannot map Wine's shared user data without a reserved address space.
  export QEMU_RESERVED_VA=0xf7000000
}

# Boots the prefix named by WINEPREFIX (or $1) unless it is ready for the route.
kolvarine_boot_prefix() {
  local prefix=${1:-$WINEPREFIX}
  local marker="$prefix/.kolvarine-route"
  if [ ! -f "$prefix/system.reg" ] || [ "$(cat "$marker" 2>/dev/null)" != "$KOLVARINE_ROUTE" ]; then
    # A prefix booted before the qemu entry existed does not run 32-bit code.
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    WINEPREFIX=$prefix "$KOLVARINE_WINE64" wineboot -i >/dev/null 2>&1 || true
    # Unmanaged windows: with no window manager under Xvfb, Wine otherwise
    # waits about two seconds whenever a window is hidden or destroyed.
    WINEPREFIX=$prefix "$KOLVARINE_WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
      >/dev/null 2>&1 || true
    kolvarine_quiet_crashes "$prefix"
    # Bounded: a first boot that never settles must not hold a CI run for good.
    WINEPREFIX=$prefix timeout 600 wineserver -w
    echo "$KOLVARINE_ROUTE" > "$marker"
  elif ! grep -q '"ShowCrashDialog"=dword:00000000' "$prefix/user.reg" 2>/dev/null; then
    # A prefix booted before crashes were made quiet. A server someone else
    # runs for it is left running; one started here for this is waited out.
    local running=
    kolvarine_server_pid "$prefix" >/dev/null && running=1
    kolvarine_quiet_crashes "$prefix"
    [ -n "$running" ] || WINEPREFIX=$prefix timeout 600 wineserver -w
  fi
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
  kolvarine_pick_route
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

# Runs a Windows program with the loader that fits its machine type.
kolvarine_run_exe() {
  local exe=$1
  if LC_ALL=C file -b "$exe" | grep -q 'PE32+'; then
    "$KOLVARINE_WINE64" "$@"
  else
    "$KOLVARINE_WINE32" "$@"
  fi
}
