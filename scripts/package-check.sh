#!/usr/bin/env bash
# The installed system from a build tree: its Debian packages built and
# checked by lintian, its systemd units verified and rated for confinement,
# the packages unpacked into a staging folder and, as root, the unpacked
# sample run against the camera emulator with the unpacked library,
# producers and service. Where the machine allows it (root, debootstrap,
# systemd-nspawn, Debian's archive reachable), the packages also go through
# their life in a Debian 12 root booted with systemd (booted_check below;
# about 40 s with the root kept from an earlier run, a few minutes without):
# QORCAM_PACKAGE_BOOT=0 leaves it out, =1 makes a machine that can't run it
# a failure instead of a SKIP. scripts/package-check.sh <build dir>
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/qorcam-package.XXXXXX")
nspawn_pid=
boot_init=
# Ends the booted root's init (and so every process of its PID namespace) when
# systemd-nspawn itself is gone or was killed before it could shut it down.
end_boot_init() {
  if [ -n "$boot_init" ] && [ "$(cat "/proc/$boot_init/comm" 2>/dev/null)" = systemd ]; then
    kill -KILL "$boot_init" 2>/dev/null || true
  fi
}
# Shuts the booted root down: systemd-nspawn does on TERM; killed after 30 s.
stop_boot() {
  if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
    kill -TERM "$nspawn_pid" 2>/dev/null || true
    for _ in $(seq 1 60); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.5; done
    kill -KILL "$nspawn_pid" 2>/dev/null || true
  fi
  end_boot_init
}
cleanup() {
  stop_boot
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
debs=("$work"/deb/*.deb)
mkdir -p "$work/control"
for deb in "${debs[@]}"; do
  echo "package: $(basename "$deb"): $(dpkg-deb --field "$deb" Depends)"
  dpkg-deb -x "$deb" "$work/root"
  package=$(dpkg-deb --field "$deb" Package)
  dpkg-deb -e "$deb" "$work/control/$package"
  for script in "$work/control/$package"/{preinst,postinst,prerm,postrm}; do
    [ ! -f "$script" ] || sh -n "$script"
  done
done
# The service package needs neither Qt nor Mono.
service_depends=$(dpkg-deb --field "$work"/deb/qorcam_*.deb Depends)
if grep -qiE "qt6|mono" <<<"$service_depends"; then
  echo "FAILED: the qorcam package depends on Qt or Mono: $service_depends"; exit 1
fi

if command -v lintian >/dev/null; then
  lintian "${debs[@]}" >"$work/lintian.log" 2>&1 || true
  if grep -q "^E: " "$work/lintian.log"; then
    grep "^E: " "$work/lintian.log"; echo "FAILED: lintian reports errors"; exit 1
  fi
  echo "lintian: no error, $(grep -c "^W: " "$work/lintian.log" || true) warnings"
else
  echo "SKIP: lintian is not installed; the packages are not checked by it"
fi

# The units as systemd reads them, each pointed at its unpacked program (which
# systemd-analyze checks is there).
if command -v systemd-analyze >/dev/null; then
  mkdir -p "$work/units/system" "$work/units/user"
  for kind in system user; do
    for unit in "$work/root/usr/lib/systemd/$kind"/*.service; do
      sed "s|^ExecStart=/|ExecStart=$work/root/|" "$unit" >"$work/units/$kind/${unit##*/}"
    done
  done
  # A warning (an unknown key, say) is a failure too.
  mkdir -p -m 0700 "$work/xdg"
  report=$( (systemd-analyze verify --man=no "$work"/units/system/*.service &&
             XDG_RUNTIME_DIR=$work/xdg systemd-analyze verify --user --man=no "$work"/units/user/*.service) 2>&1) ||
    { echo "$report"; echo "FAILED: the units"; exit 1; }
  [ -z "$report" ] || { echo "$report"; echo "FAILED: the units draw warnings"; exit 1; }
  echo "units verified: $(cd "$work/units" && echo */*.service)"
  # Each system unit is confined: an exposure of 5.0 or less.
  for unit in "$work"/units/system/*.service; do
    level=$(systemd-analyze security --offline=true --no-pager "$unit" 2>/dev/null |
            sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    [ -n "$level" ] || { echo "FAILED: no exposure level for ${unit##*/}"; exit 1; }
    echo "exposure of ${unit##*/}: $level"
    awk -v l="$level" 'BEGIN { exit !(l <= 5.0) }' || { echo "FAILED: ${unit##*/} is exposed above 5.0"; exit 1; }
  done
else
  echo "SKIP: systemd-analyze is not installed; the units are not verified"
fi
# The run folder and the admin group, made inside a scratch root as the system makes them.
if command -v systemd-tmpfiles >/dev/null && command -v systemd-sysusers >/dev/null; then
  mkdir -p "$work/sysroot/etc"
  systemd-tmpfiles --root="$work/sysroot" --create "$work"/root/usr/lib/tmpfiles.d/qorcam.conf
  systemd-sysusers --root="$work/sysroot" "$work"/root/usr/lib/sysusers.d/qorcam.conf 2>/dev/null
  grep -q "^qorcam-admin:" "$work/sysroot/etc/group"
  modes=$(cd "$work/sysroot" && stat -c '%A %U:%G %n' run/qorcam run/qorcam/* run/qorcam/user/*)
  echo "$modes"
  # The library refuses a user/ that anyone may write without the sticky bit.
  grep -qx "drwxrwxrwt root:root run/qorcam/user" <<<"$modes"
  grep -qx "drwx------ root:root run/qorcam/user/0" <<<"$modes"
fi
if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
  udevadm verify "$work"/root/usr/lib/udev/rules.d/*.rules
else
  echo "SKIP: this udevadm has no verify; the udev rule is not checked"
fi

# The unpacked sample: library, producers and service all from the package.
if [ "$(id -u)" = 0 ]; then
  if ! (cd "$work" && "$work/root/usr/bin/qorcam_sample" --no-viewer >"$work/sample.log" 2>&1) ||
     ! grep -q "frame .* saved as qorcam-frame.bmp" "$work/sample.log"; then
    cat "$work/sample.log"; echo "FAILED: the unpacked sample"; exit 1
  fi
  grep -E "^camera |frames of|saved as" "$work/sample.log"
  grep -q "service $work/root/usr/sbin/QorGigEFilter," "$work/sample.log" ||
    { grep "camera network up" "$work/sample.log"; echo "FAILED: the sample did not start the unpacked service"; exit 1; }
  # Without root it can't stream: it says so and ends with 2, not 0.
  if command -v runuser >/dev/null && id nobody >/dev/null 2>&1; then
    chmod 755 "$work" # the unpacked programs readable by that user
    (cd / && runuser -u nobody -- env QORCAM_ROOT=/nonexistent "$work/root/usr/bin/qorcam_sample") \
      >"$work/sample-user.log" 2>&1 && rc=0 || rc=$?
    [ "$rc" = 2 ] && grep -q "no images were streamed: the GigE demo needs root" "$work/sample-user.log" ||
      { cat "$work/sample-user.log"; echo "FAILED: a sample that streamed nothing ended with $rc"; exit 1; }
    echo "a sample that streamed nothing: exit 2, $(grep -o "no images were streamed: [^(]*" "$work/sample-user.log")"
  fi
else
  echo "SKIP: not root; the unpacked sample is not run against the emulator"
fi

# ---- The packages' life in a Debian 12 root booted with systemd ----
# The root is made once with debootstrap from Debian's archive and kept in
# <build>/package-root (QORCAM_PACKAGE_ROOT elsewhere); the packages'
# dependencies are fetched into its cache, then it boots with
# systemd-nspawn on a private network and a throw-away overlay, so every
# run starts from the same fresh system. There: install, /Install, a camera
# listed and streamed through the service its unit runs (the camera
# emulator on a virtual link), a user's device monitor, reinstall, remove,
# install again, purge, install again and /Install.
booted_check() {
  local root=${QORCAM_PACKAGE_ROOT:-$build/package-root/debian12}
  # The archive this machine's apt uses (its first deb822 or one-line source), or QORCAM_DEBIAN_MIRROR.
  local mirror=${QORCAM_DEBIAN_MIRROR:-}
  if [ -z "$mirror" ]; then
    mirror=$(awk '/^URIs:/ && $2 !~ /security/ {print $2; exit}' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
  fi
  if [ -z "$mirror" ]; then
    mirror=$(awk '$1 == "deb" && $2 !~ /^\[/ && $2 !~ /security/ {print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
  fi
  local tool
  # What the machine does not allow is a SKIP, or a failure when the check was asked for.
  cannot() {
    if [ "${QORCAM_PACKAGE_BOOT:-}" = 1 ]; then echo "FAILED: booted check: $1"; return 1; fi
    echo "SKIP: booted check: $1 (QORCAM_PACKAGE_BOOT=0 leaves the check out, =1 makes this a failure)"
  }
  for tool in debootstrap systemd-nspawn nsenter; do
    command -v "$tool" >/dev/null || { cannot "$tool is not installed"; return; }
  done
  [ "$(id -u)" = 0 ] || { cannot "needs root"; return; }
  [ -n "$mirror" ] || { cannot "no Debian archive in this machine's apt sources (set QORCAM_DEBIAN_MIRROR)"; return; }
  if [ ! -x "$root/lib/systemd/systemd" ]; then
    echo "booted check: making a Debian 12 root in $root"
    rm -rf "$root.new"
    mkdir -p "$(dirname "$root")"
    debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,iproute2 bookworm "$root.new" "$mirror" \
      >"$work/debootstrap.log" 2>&1 || { tail -5 "$work/debootstrap.log"; cannot "debootstrap from $mirror failed"; return; }
    mv "$root.new" "$root"
  fi
  rm -rf "$root/var/tmp/qorcam-debs"
  mkdir -p "$root/var/tmp/qorcam-debs"
  cp "$work"/deb/qorcam_*.deb "$work"/deb/qorcam-dev_*.deb "$work"/deb/qorcam-tools_*.deb "$root/var/tmp/qorcam-debs/"
  # The simulated USB3 Vision camera of the tests, for the USB service's check.
  [ ! -x "$build/bin/QorU3vSimCamera" ] || cp "$build/bin/QorU3vSimCamera" "$root/var/tmp/qorcam-debs/"
  local fetch="apt-get install -y -q --download-only /var/tmp/qorcam-debs/*.deb aravis-tools"
  systemd-nspawn -q -D "$root" --register=no --keep-unit -E DEBIAN_FRONTEND=noninteractive -- \
    sh -c "$fetch || { apt-get update -q && $fetch; }" >"$work/fetch.log" 2>&1 ||
    { tail -5 "$work/fetch.log"; cannot "the packages' dependencies could not be fetched from Debian's archive"; return; }

  systemd-nspawn -q -D "$root" -b --register=no --keep-unit --private-network --volatile=overlay \
    -M qorcam-check >"$work/boot.log" 2>&1 </dev/null &
  nspawn_pid=$!
  local init= i
  for i in $(seq 1 100); do
    init=$(ps -o pid= --ppid "$nspawn_pid" 2>/dev/null | head -1 | tr -d " " || true)
    [ -z "$init" ] || [ "$(cat "/proc/$init/comm" 2>/dev/null)" != systemd ] || break
    init=
    sleep 0.2
  done
  [ -n "$init" ] || { cat "$work/boot.log"; cannot "systemd-nspawn could not boot the root here"; return; }
  boot_init=$init
  in_root() {
    nsenter -t "$init" -m -u -i -p -n -- env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
      DEBIAN_FRONTEND=noninteractive "$@"
  }
  local state
  state=$(in_root timeout 90 systemctl is-system-running --wait 2>&1 || true)
  echo "booted: $state"

  local failed=0
  expect() { # expect <description> <command...>
    if "${@:2}"; then echo "ok: booted: $1"; else echo "FAILED: booted: $1"; failed=1; fi
  }
  # Each unit: enabled/active and the program its main process runs.
  service_state() {
    local unit pid
    for unit in "$@"; do
      pid=$(in_root systemctl show -p MainPID --value "$unit")
      printf '%s %s/%s %s\n' "$unit" "$(in_root systemctl is-enabled "$unit" 2>/dev/null || true)" \
        "$(in_root systemctl is-active "$unit" 2>/dev/null || true)" \
        "$([ "$pid" = 0 ] || in_root readlink "/proc/$pid/exe" || true)"
    done
  }
  runs_installed() { # runs_installed <unit> <program>: active with the installed (not a deleted) program
    [ "$(service_state "$1" | cut -d' ' -f2-)" = "$(printf '%s/active %s' "$3" "$2")" ]
  }
  ours_running() { # the processes of our programs
    in_root sh -c 'for e in /proc/[0-9]*/exe; do readlink "$e"; done 2>/dev/null' |
      grep -E "/usr/s?bin/(Qor|qorcam)" || true
  }
  apt_step() { # apt_step <log name> <apt-get arguments...>
    in_root apt-get -y -q -o Dpkg::Use-Pty=0 "${@:2}" >"$work/apt-$1.log" 2>&1 ||
      { tail -20 "$work/apt-$1.log"; echo "FAILED: booted: apt-get ${*:2}"; failed=1; }
  }
  local debs="/var/tmp/qorcam-debs/qorcam_*.deb /var/tmp/qorcam-debs/qorcam-dev_*.deb /var/tmp/qorcam-debs/qorcam-tools_*.deb"
  local install_output rc
  pref_install() { # QorGigEPref /Install in the root: its output in install_output, its exit status in rc
    install_output=$(in_root QorGigEPref /Install 2>&1) && rc=0 || rc=$?
  }

  # Install; the GigE service's configuration with the real systemctl.
  # shellcheck disable=SC2086
  apt_step install install $(in_root sh -c "echo $debs") aravis-tools
  expect "the admin group and the run folder" in_root sh -c \
    'getent group qorcam-admin >/dev/null && [ "$(stat -c %a /run/qorcam/user)" = 1777 ]'
  # A camera emulator on a virtual link (the booted root's network is its
  # own); the service is then installed and the link bound to it in the
  # tool's own dialog: the sample lists the camera and streams from it
  # through the service under its unit's confinement.
  expect "the camera emulator on a virtual link" in_root sh -c 'ip netns add qcam &&
    ip link add qc0 type veth peer name qc1 netns qcam &&
    ip addr add 169.254.50.1/16 dev qc0 && ip link set qc0 up &&
    ip -n qcam addr add 169.254.50.2/16 dev qc1 && ip -n qcam link set qc1 up && ip -n qcam link set lo up &&
    systemd-run -q --unit=qorcam-camera ip netns exec qcam arv-fake-gv-camera-0.8 -i qc1'
  pref_install
  expect "QorGigEPref /Install exits 0 ($install_output)" [ "$rc" = 0 ]
  in_root systemctl start QorUSBDrv.service || true
  expect "the GigE service runs from its enabled unit" runs_installed QorGigE.service /usr/sbin/QorGigEFilter enabled
  expect "the USB service runs from its unit" runs_installed QorUSBDrv.service /usr/sbin/QorUSBDrv disabled
  service_state QorGigE.service QorUSBDrv.service | sed 's/^/  /'
  in_root systemd-analyze security --no-pager QorGigE.service QorUSBDrv.service | grep -A3 "^UNIT" | sed 's/^/  /'

  local row
  row=$(echo list | in_root QorGigEPref 2>&1 | sed -n 's/^ *\([0-9]*\) \[.\] qc0 .*/\1/p' | head -1)
  [ -z "$row" ] || printf 'check %s\nmode %s 1\nok\n' "$row" "$row" | in_root QorGigEPref >"$work/pref.log" 2>&1 || true
  expect "qc0 is the service's adapter" in_root sh -c 'QorGigECtl nics | grep -q qc0'
  in_root sh -c 'cd /tmp && qorcam_sample --stream' >"$work/stream.log" 2>&1 && rc=0 || rc=$?
  expect "the sample streams through the confined service" [ "$rc" = 0 ]
  [ "$rc" = 0 ] || cat "$work/stream.log"
  grep -E "^camera |frames of" "$work/stream.log" | sed 's/^/  /' || true

  # The USB service, confined by its unit, serves a simulated camera on the
  # virtual bus (the unit's only change: the bus it takes cameras from).
  if in_root test -x /var/tmp/qorcam-debs/QorU3vSimCamera; then
    in_root sh -c 'mkdir -p /run/systemd/system/QorUSBDrv.service.d &&
      printf "[Service]\nEnvironment=QORCAM_USB_BUS=virtual\n" >/run/systemd/system/QorUSBDrv.service.d/sim.conf &&
      systemctl daemon-reload && systemctl restart QorUSBDrv.service &&
      systemd-run -q --unit=qorcam-usb-camera /var/tmp/qorcam-debs/QorU3vSimCamera --name=check0 --serial=1234' || true
    for i in $(seq 1 25); do
      in_root sh -c 'cd /tmp && qorcam_sample --library' >"$work/usb.log" 2>&1 || true
      grep -q "USB Camera Count DUMP=0x0000000000000001" "$work/usb.log" && break
      sleep 0.2
    done
    expect "the USB service lists a simulated camera under its unit's confinement" \
      grep -q "USB Camera Count DUMP=0x0000000000000001" "$work/usb.log"
    in_root sh -c 'systemctl stop qorcam-usb-camera.service; rm -rf /run/systemd/system/QorUSBDrv.service.d &&
      systemctl daemon-reload && systemctl restart QorUSBDrv.service' || true
  else
    echo "SKIP: booted: no simulated USB camera in this build; the USB service's check is left out"
  fi

  # A user's program streams too (the service, without capabilities over
  # files, serves a user through what the user hands it).
  in_root sh -c 'useradd -m qtest && loginctl enable-linger qtest' || true
  in_root runuser -u qtest -- sh -c 'cd /home/qtest && qorcam_sample --stream' >"$work/stream-user.log" 2>&1 && rc=0 || rc=$?
  expect "a user's sample streams through the confined service" [ "$rc" = 0 ]
  [ "$rc" = 0 ] || cat "$work/stream-user.log"

  # A user's device monitor, through the user's own service manager.
  for i in $(seq 1 50); do in_root systemctl --quiet is-active user@1000.service && break; sleep 0.2; done
  in_root systemctl --user -M qtest@ enable --now QorCamMonitor.service >/dev/null 2>&1 || true
  monitor_pid() { in_root systemctl --user -M qtest@ show -p MainPID --value QorCamMonitor.service 2>/dev/null || echo 0; }
  local monitor before
  monitor=$(monitor_pid)
  expect "a user's device monitor runs" [ "${monitor:-0}" != 0 ]
  [ "${monitor:-0}" != 0 ] ||
    in_root systemctl --user -M qtest@ status --no-pager QorCamMonitor.service 2>&1 | sed 's/^/  /' || true

  # Reinstall (an upgrade in place): each service and the monitor run the installed program anew.
  main_pids() { in_root systemctl show -p MainPID --value QorGigE.service QorUSBDrv.service | xargs; }
  before=$(main_pids)
  # shellcheck disable=SC2086
  apt_step reinstall install --reinstall $(in_root sh -c "echo $debs")
  expect "after a reinstall the GigE service runs the installed program" \
    runs_installed QorGigE.service /usr/sbin/QorGigEFilter enabled
  expect "after a reinstall the USB service runs the installed program" \
    runs_installed QorUSBDrv.service /usr/sbin/QorUSBDrv disabled
  local after
  after=$(main_pids)
  expect "after a reinstall both services were restarted (pids $before, then $after)" \
    sh -c "[ '${before% *}' != '${after% *}' ] && [ '${before#* }' != '${after#* }' ]"
  expect "after a reinstall the monitor was restarted" \
    sh -c "[ '$(monitor_pid)' != 0 ] && [ '$(monitor_pid)' != '$monitor' ]"

  # Remove: nothing of ours runs; the configuration stays.
  apt_step remove remove qorcam qorcam-dev qorcam-tools
  expect "after a remove nothing of ours runs ($(ours_running | xargs))" [ -z "$(ours_running)" ]
  expect "a remove keeps the configuration" in_root test -f /etc/qorcam/machine.ini

  # Install again: the enabled service comes back; /Install says it is there.
  # shellcheck disable=SC2086
  apt_step install-again install $(in_root sh -c "echo $debs")
  expect "after a remove and an install the GigE service runs again" \
    runs_installed QorGigE.service /usr/sbin/QorGigEFilter enabled
  pref_install
  # The output goes in as an argument: a quote in it can't end the script's text.
  expect "/Install over an installed service answers 2 and says why" \
    sh -c '[ "$1" = 2 ] && printf "%s\n" "$2" | grep -q "installed already"' sh "$rc" "$install_output"

  # Purge: nothing of ours is left.
  apt_step purge purge qorcam qorcam-dev qorcam-tools
  expect "after a purge nothing of ours runs ($(ours_running | xargs))" [ -z "$(ours_running)" ]
  local left
  left=$(in_root sh -c 'ls -d /etc/qorcam /var/lib/qorcam /run/qorcam /usr/share/doc/qorcam* /usr/lib/qorcam \
      /etc/systemd/system/QorGigE.service /etc/systemd/system/*.wants/Qor* /etc/systemd/user/*.wants/Qor* \
      /home/*/.config/systemd/user/*.wants/Qor* /etc/profile.d/qorcam-gentl.sh 2>/dev/null;
    getent group qorcam-admin; dpkg -l "qorcam*" 2>/dev/null | grep "^[a-z][a-z] " | grep -v "^un"' || true)
  expect "a purge leaves nothing of ours (${left//$'\n'/ })" [ -z "$left" ]

  # Install after the purge: /Install sets the service up again.
  # shellcheck disable=SC2086
  apt_step install-after-purge install $(in_root sh -c "echo $debs")
  pref_install
  expect "after a purge /Install exits 0 ($install_output)" [ "$rc" = 0 ]
  expect "after a purge and /Install the GigE service runs from its enabled unit" \
    runs_installed QorGigE.service /usr/sbin/QorGigEFilter enabled

  stop_boot
  [ "$failed" = 0 ] || { echo "FAILED: the packages' life in the booted root"; return 1; }
  echo "booted check passed"
}
if [ "${QORCAM_PACKAGE_BOOT:-}" = 0 ]; then
  echo "SKIP: the packages' life in a booted Debian 12 root (install, /Install, stream, reinstall, remove," \
       "purge, install again): QORCAM_PACKAGE_BOOT=0"
else
  booted_check
fi
