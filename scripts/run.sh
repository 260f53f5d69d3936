#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job: the C sample that
# loads libQorCam.so and drives it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec build/bin/qorcam_sample "$@"
