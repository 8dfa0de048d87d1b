#!/usr/bin/env bash
# Installs what Vantrel needs, builds it and starts it in a sandbox of its own
# (its own settings database and device root), never touching the user's
# real settings.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo

sandbox=${VANTREL_SANDBOX:-$PWD/build/sandbox}
mkdir -p "$sandbox"
export VANTREL_REGISTRY="$sandbox/registry.db"

# Until the program has its window, show what the settings store holds.
build/tools/vantrel-reg/vantrel-reg set 'HKLM\Software\Vantrel' Keyclicks --dword 1 >/dev/null
build/tools/vantrel-reg/vantrel-reg export 'HKLM\Software\Vantrel'
