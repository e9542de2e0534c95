#!/usr/bin/env bash
# Builds verrakin for Linux aarch64 and runs the whole test suite there, under
# qemu-user emulation in the Debian arm64 root of .ci/arm64-root.sh (made when
# absent). The working tree's files (tracked and new, not ignored) are copied
# into the root; the build runs warnings-as-errors with GCC; extra arguments
# are passed to pytest. The results digest is checked after the suite.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
root="${VERRAKIN_ARM64_ROOT:-/var/cache/verrakin/arm64-root}"
"$repo/.ci/arm64-root.sh"

# The build directory beside the tree is kept, so later runs rebuild only
# what changed (tar keeps the files' times).
tree="$root/work/verrakin"
rm -rf --one-file-system "$tree"
mkdir -p "$tree"
(cd "$repo" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf -) | tar -xf - -C "$tree"

started=$SECONDS
"$repo/.ci/arm64-root.sh" run sh -c '
    set -e
    cd /work/verrakin
    export CMAKE_BUILD_PARALLEL_LEVEL=2
    # Debian'"'"'s pip 23 spells scikit-build-core'"'"'s settings --config-settings.
    pip install -q --no-build-isolation --config-settings=build-dir=/work/build \
        --config-settings=cmake.define.CMAKE_CXX_FLAGS=-Werror ".[test]"
    python -c "import platform, verrakin; print(\"built for\", platform.machine())"
'
echo "(aarch64 build took $((SECONDS - started)) s)"
started=$SECONDS
"$repo/.ci/arm64-root.sh" run sh -c 'cd /work/verrakin && python -m pytest -q -p no:cacheprovider "$@"' pytest "$@"
echo "(aarch64 tests took $((SECONDS - started)) s)"
if [ -f "$tree/tests/digest.py" ]; then
    echo "results digest on aarch64:"
    "$repo/.ci/arm64-root.sh" run sh -c 'cd /work/verrakin && python tests/digest.py'
fi
