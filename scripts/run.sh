#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job: the sample that loads
# libQorCam.so and drives it. As root it acquires images from the camera
# emulator on a private test network and saves one as qorcam-frame.bmp in the
# repository's top folder (where it runs); otherwise it runs the library demo without a camera.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec build/bin/qorcam_sample "$@"
