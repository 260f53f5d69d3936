#!/usr/bin/env bash
# Stages an install of the build tree into a temporary DESTDIR, checks the
# layout, builds the small application against the staged tree with
# pkg-config and with find_package(QorCam), and runs both: each must load
# the library and both producers from the staged tree, not the build tree.
# install_test.sh <build dir> <application source folder>
set -euo pipefail
build=$1
app=$2
cmake=${CMAKE_COMMAND:-cmake}
cc=${CC:-cc}
pkgconfig=${PKG_CONFIG:-pkg-config}
prefix=/usr/local

if ! command -v "$pkgconfig" >/dev/null || ! command -v "$cc" >/dev/null; then
  echo "SKIP: no C compiler or pkg-config"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/qorcam-install.XXXXXX")
# Every process that runs a program of the staged tree ends with the test,
# also when it fails: the applications start the GigE service from it, which
# would outlive them. Where the machine allows, each program runs in a PID
# namespace of its own, whose processes all end with it; the scan below
# ends what is left either way (a service started just as its program
# ended included: the scan goes on until it finds nothing twice).
contained=()
if unshare --pid --fork --mount-proc --kill-child true 2>/dev/null; then
  contained=(unshare --pid --fork --mount-proc --kill-child)
fi
end_staged_processes() {
  local exe pid round quiet=0
  for round in $(seq 1 20); do
    local found=0
    for exe in /proc/[0-9]*/exe; do
      case "$(readlink "$exe" 2>/dev/null)" in
        "$work"/*)
          pid=${exe#/proc/}; pid=${pid%/exe}
          found=1
          if [ "$round" -lt 10 ]; then kill -TERM "$pid" 2>/dev/null || true; else kill -KILL "$pid" 2>/dev/null || true; fi ;;
      esac
    done
    if [ "$found" = 0 ]; then
      quiet=$((quiet + 1))
      [ "$quiet" -lt 2 ] || return 0
    else
      quiet=0
    fi
    sleep 0.25
  done
}
trap 'end_staged_processes; rm -rf "$work"' EXIT
stage=$work/stage
root=$stage$prefix

DESTDIR=$stage "$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" ||
  { cat "$work/install.log"; exit 1; }

fail=0
check() { # check <description> <command...>
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi
}
pc=$(find "$root" -name qorcam.pc | head -1)
lib=$(sed -n 's/^libdir=\${prefix}\///p' "$pc")
check "pkg-config file names the install prefix and normal folders" \
  sh -c "grep -qx 'prefix=$prefix' '$pc' &&
         [ \"\$(PKG_CONFIG_PATH='${pc%/*}' '$pkgconfig' --dont-define-prefix --cflags qorcam | xargs)\" = '-I$prefix/include' ]"
check "library with its soname link and dev link" \
  test -L "$root/$lib/libQorCam.so" -a -L "$root/$lib/libQorCam.so.1" -a -f "$(readlink -f "$root/$lib/libQorCam.so")"
check "soname is libQorCam.so.1" \
  sh -c "objdump -p '$root/$lib/libQorCam.so' | grep -q 'SONAME *libQorCam.so.1\$'"
check "header" test -f "$root/include/QorCam.h"
check "both producers in one folder" \
  test -f "$root/$lib/qorcam/gentl/QorGigEGenTL.cti" -a -f "$root/$lib/qorcam/gentl/QorUSBGenTL.cti"
check "services in sbin" test -x "$root/sbin/QorGigEFilter" -a -x "$root/sbin/QorUSBDrv"
check "GenTL search path names the producer folder" \
  grep -q "$prefix/$lib/qorcam/gentl" "$stage/etc/profile.d/qorcam-gentl.sh"
check "GigE unit starts the installed service" \
  grep -qx "ExecStart=$prefix/sbin/QorGigEFilter" "$root/lib/systemd/system/QorGigE.service"
check "USB unit starts the installed service" \
  grep -qx "ExecStart=$prefix/sbin/QorUSBDrv" "$root/lib/systemd/system/QorUSBDrv.service"
check "run folder and admin group entries" test -f "$root/lib/tmpfiles.d/qorcam.conf" -a -f "$root/lib/sysusers.d/qorcam.conf"
check "udev rule" test -f "$root/lib/udev/rules.d/69-qorcam-usb3vision.rules"
check "description folder" test -d "$stage/var/lib/qorcam/Korvashdrevali/QorCam"
check "the GigE service's package" test -f "$root/share/qorcam/Driver/GigE/QorGigE.inf"
# Programs reach the library through their run path, from wherever the tree lies.
for program in "$root"/bin/*; do
  [ -x "$program" ] || continue
  check "$(basename "$program") finds what it links" sh -c "! ldd '$program' | grep -q 'not found'"
done

# An installed program loads the library by plain name through its run path,
# as the viewer does; the driver select tool on the terminal shows it, and
# ends at "cancel" without changing anything.
if [ -x "$root/bin/QorGigEPref" ]; then
  echo cancel | "${contained[@]}" env -u DISPLAY -u WAYLAND_DISPLAY QORCAM_ROOT="$work/root-pref" "$root/bin/QorGigEPref" \
    >"$work/pref.out" 2>&1 || true
  check "an installed program loads the installed library" \
    sh -c "grep -q 'Select Install' '$work/pref.out' && ! grep -q 'Not Found' '$work/pref.out'"
fi

# Each application runs with its own empty run-time root; the library and the
# producers must come from the staged tree.
run_app() { # run_app <name> <program> [env...]
  local out=$work/$1.out
  if ! "${contained[@]}" env QORCAM_ROOT="$work/root-$1" "${@:3}" "$2" >"$out" 2>&1; then
    echo "FAILED: $1 application:"; cat "$out"; fail=1; return
  fi
  cat "$out"
  check "$1 application loaded the staged library" grep -q "loaded: $root/$lib/libQorCam.so" "$out"
  check "$1 application loaded both staged producers" \
    sh -c "grep -q 'loaded: $root/$lib/qorcam/gentl/QorGigEGenTL.cti' '$out' &&
           grep -q 'loaded: $root/$lib/qorcam/gentl/QorUSBGenTL.cti' '$out'"
}

export PKG_CONFIG_PATH=$root/$lib/pkgconfig
# shellcheck disable=SC2046
# The staged tree answers with its own folders through --define-prefix.
if "$cc" -Wall -Wextra -Werror -o "$work/app-pc" "$app/qorcam_app.c" $("$pkgconfig" --define-prefix --cflags --libs qorcam); then
  run_app pkg-config "$work/app-pc" LD_LIBRARY_PATH="$root/$lib"
else
  echo "FAILED: building with pkg-config"; fail=1
fi

# A Mono program built against the staged assembly (the .pc file gives the
# reference and the files to copy beside the program), run with the runtime
# package's soname of the library.
if command -v mcs >/dev/null && command -v mono >/dev/null && [ -f "$root/$lib/pkgconfig/qorcam-cli.pc" ]; then
  mkdir -p "$work/cli"
  printf '%s\n' 'using QorCamDotNet;' \
    'class App { static int Main() { uint r = QORCAM.GetLibraryRevision(); System.Console.WriteLine("library revision " + r); return r != 0 ? 0 : 1; } }' \
    >"$work/cli/app.cs"
  # shellcheck disable=SC2046
  if mcs -nologo -out:"$work/cli/app.exe" $("$pkgconfig" --define-prefix --libs qorcam-cli) "$work/cli/app.cs" &&
     cp $("$pkgconfig" --define-prefix --variable=Libraries qorcam-cli) "$work/cli/" &&
     "${contained[@]}" env QORCAM_ROOT="$work/root-cli" LD_LIBRARY_PATH="$root/$lib" mono "$work/cli/app.exe" \
       >"$work/cli.out" 2>&1; then
    echo "ok: a Mono program built with the .pc file runs: $(cat "$work/cli.out")"
  else
    cat "$work/cli.out" 2>/dev/null; echo "FAILED: the Mono program"; fail=1
  fi
fi

if "$cmake" -S "$app" -B "$work/app-build" -DCMAKE_PREFIX_PATH="$root" -DCMAKE_BUILD_TYPE=Release \
     -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >"$work/app-cmake.log" 2>&1 &&
   "$cmake" --build "$work/app-build" >>"$work/app-cmake.log" 2>&1; then
  grep "producers in" "$work/app-cmake.log" || true
  run_app cmake "$work/app-build/qorcam_app"
else
  cat "$work/app-cmake.log"; echo "FAILED: building with find_package(QorCam)"; fail=1
fi
exit $fail
