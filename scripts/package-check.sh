#!/usr/bin/env bash
# The installed system from a build tree: its systemd units verified, its
# Debian package built and unpacked into a staging folder, and, as root, the
# unpacked sample run against the camera emulator with the unpacked library,
# producers and service. scripts/package-check.sh <build dir>
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/qorcam-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/deb/*.deb)
echo "package: $(basename "$deb")"
dpkg-deb --field "$deb" Package Version Depends Recommends
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
for script in "$work"/control/postinst "$work"/control/prerm "$work"/control/postrm; do
  sh -n "$script"
done

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
else
  echo "SKIP: not root; the unpacked sample is not run against the emulator"
fi
