# Sourced by scripts/setup and scripts/wine-env.sh: how this machine runs
# 32-bit ELF code, and so Wine's 32-bit loader. Some kernels run it
# themselves, some say "Exec format error"; there qemu-i386 runs it through a
# binfmt_misc entry that setup registers. binfmt_misc comes before the
# kernel's own ELF loader, so once that entry exists the loader answers
# through qemu and asking it again proves nothing: the entry itself is the
# record that the kernel needed it (entries go with a reboot, as would the
# kernel). KOLVARINE_FORCE_QEMU=1 registers an entry of its own, which the
# next ordinary set-up removes, so that qemu never outlives the forced run.
#   kolvarine_prepare_i386   setup: install qemu, register or remove entries
#   kolvarine_current_route  everyone else: prints "ROUTE ENTRY", changes nothing

KOLVARINE_BINFMT=/proc/sys/fs/binfmt_misc
KOLVARINE_WINE32=/usr/lib/wine/wine
KOLVARINE_ENTRY=kolvarine-i386
KOLVARINE_FORCED_ENTRY=kolvarine-i386-forced

# The decision alone, from three facts (each "yes" or "no"): the run is
# forced; our ordinary entry is registered; the 32-bit loader runs (asked
# only when neither of the first two holds). Prints the route and the entry
# it runs through ("-" for none).
kolvarine_route_decision() {
  local forced=$1 ordinary=$2 loader=$3
  if [ "$ordinary" = yes ]; then echo "qemu $KOLVARINE_ENTRY"
  elif [ "$forced" = yes ]; then echo "qemu $KOLVARINE_FORCED_ENTRY"
  elif [ "$loader" = yes ]; then echo "direct -"
  else echo "qemu $KOLVARINE_ENTRY"
  fi
}

kolvarine_entry_on() { [ "$(head -n 1 "$KOLVARINE_BINFMT/$1" 2>/dev/null)" = enabled ]; }
kolvarine_loader_runs() { "$KOLVARINE_WINE32" --version >/dev/null 2>&1; }
kolvarine_forced() { if [ -n "${KOLVARINE_FORCE_QEMU:-}" ]; then echo yes; else echo no; fi; }

kolvarine_current_route() {
  local ordinary=no
  kolvarine_entry_on "$KOLVARINE_ENTRY" && ordinary=yes
  # Without an entry, set-up has just seen the loader run (or registered one).
  kolvarine_route_decision "$(kolvarine_forced)" "$ordinary" yes
}

kolvarine_prepare_i386() {
  local forced ordinary=no loader=no route entry
  forced=$(kolvarine_forced)
  if [ "$forced" = no ] && [ -e "$KOLVARINE_BINFMT/$KOLVARINE_FORCED_ENTRY" ]; then
    kolvarine_binfmt_remove "$KOLVARINE_FORCED_ENTRY" || return 1
  fi
  kolvarine_entry_on "$KOLVARINE_ENTRY" && ordinary=yes
  if [ "$forced" = no ] && [ "$ordinary" = no ] && kolvarine_loader_runs; then loader=yes; fi
  read -r route entry < <(kolvarine_route_decision "$forced" "$ordinary" "$loader")
  [ "$route" = qemu ] || return 0
  kolvarine_install_qemu || return 1
  kolvarine_entry_on "$entry" || kolvarine_binfmt_register "$entry" || return 1
  kolvarine_entry_on "$entry"
}

kolvarine_install_qemu() {
  command -v qemu-i386-static >/dev/null 2>&1 && return 0
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null 2>&1 \
    || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
           qemu-user-static >/dev/null; }
}

kolvarine_binfmt_register() {
  [ -f "$KOLVARINE_BINFMT/register" ] || mount -t binfmt_misc binfmt_misc "$KOLVARINE_BINFMT"
  # i386 ELF executables; F opens the interpreter now, so it works inside any root.
  printf '%s' ":$1"':M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    > "$KOLVARINE_BINFMT/register"
}

kolvarine_binfmt_remove() { echo -1 > "$KOLVARINE_BINFMT/$1"; }
