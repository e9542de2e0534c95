#!/usr/bin/env bash
# A Debian bookworm arm64 root for building and testing verrakin on Linux
# aarch64 under qemu-user emulation.
#
#   .ci/arm64-root.sh            make the root when absent, reuse it when present
#   .ci/arm64-root.sh run CMD..  run CMD inside the root (as root, /proc mounted)
#
# The root lives at a fixed machine path ($VERRAKIN_ARM64_ROOT, by default
# /var/cache/verrakin/arm64-root) so that later runs reuse it: making it takes
# about a quarter of an hour on a loaded two-core machine, nearly all of it the
# emulated second stage of debootstrap. It is assembled beside its final path
# and renamed only when complete, so an interrupted run leaves nothing that
# looks usable. Inside it: GCC, the CPython 3.11 headers, and a virtual
# environment at /opt/vk-venv with PyPI's CMake and Ninja (Debian's CMake 3.25
# is older than the build needs), scikit-build-core, pytest and hypothesis.
# Needs root, apt-get and a kernel with binfmt_misc.
set -euo pipefail

root="${VERRAKIN_ARM64_ROOT:-/var/cache/verrakin/arm64-root}"
mirror="${VERRAKIN_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
# Bump when the package lists below change, so that an older root is remade.
layout=1
stamp=".verrakin-arm64-root-$layout"

# Runs a command inside a root with /proc, /dev and the host's name servers.
in_root() {
    local target="$1"
    shift
    mountpoint -q "$target/proc" || mount -t proc proc "$target/proc"
    mountpoint -q "$target/dev" || mount --bind /dev "$target/dev"
    cp -L /etc/resolv.conf "$target/etc/resolv.conf" 2> /dev/null || true
    local status=0
    chroot "$target" /usr/bin/env -i \
        HOME=/root PATH=/opt/vk-venv/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive PIP_DISABLE_PIP_VERSION_CHECK=1 \
        PIP_CERT=/etc/ssl/certs/host-ca.crt SSL_CERT_FILE=/etc/ssl/certs/host-ca.crt \
        "$@" || status=$?
    umount "$target/dev" "$target/proc" 2> /dev/null || true
    return "$status"
}

# qemu-user for aarch64, registered with binfmt_misc ("F": the interpreter is
# opened at registration, so it also runs inside a chroot).
ensure_emulation() {
    if ! command -v qemu-aarch64-static > /dev/null || ! command -v debootstrap > /dev/null; then
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap qemu-user-static binfmt-support > /dev/null
    fi
    mountpoint -q /proc/sys/fs/binfmt_misc || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    [ -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ] || update-binfmts --enable qemu-aarch64
    [ -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ] || { echo "qemu-aarch64 is not registered with binfmt_misc" >&2; exit 1; }
}

make_root() {
    local partial="$root.partial"
    # An interrupted run may have left /proc or /dev mounted inside.
    umount "$partial/dev" "$partial/proc" 2> /dev/null || true
    rm -rf --one-file-system "$partial"
    mkdir -p "$(dirname "$root")"
    local started=$SECONDS
    debootstrap --arch=arm64 --foreign --variant=minbase bookworm "$partial" "$mirror" > /dev/null
    echo "arm64 root: first stage took $((SECONDS - started)) s"
    started=$SECONDS
    # The second stage runs the root's own (arm64) binaries under emulation.
    cp /usr/bin/qemu-aarch64-static "$partial/usr/bin/"
    chroot "$partial" /debootstrap/debootstrap --second-stage > /dev/null
    echo "arm64 root: second stage took $((SECONDS - started)) s"
    started=$SECONDS
    # HTTPS may be intercepted: trust what the host trusts.
    mkdir -p "$partial/etc/ssl/certs"
    cp -L /etc/ssl/certs/ca-certificates.crt "$partial/etc/ssl/certs/host-ca.crt"
    in_root "$partial" sh -c '
        set -e
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends g++ python3-dev python3-venv ca-certificates > /dev/null
        apt-get clean
        python3 -m venv /opt/vk-venv
        /opt/vk-venv/bin/pip install -q cmake ninja scikit-build-core pytest hypothesis
    '
    echo "arm64 root: toolchain and venv took $((SECONDS - started)) s"
    touch "$partial/$stamp"
    rm -rf --one-file-system "$root"
    mv "$partial" "$root"
}

ensure_emulation
if [ ! -e "$root/$stamp" ]; then
    echo "arm64 root: making $root"
    make_root
else
    echo "arm64 root: reusing $root"
fi
if [ "${1:-}" = run ]; then
    shift
    in_root "$root" "$@"
fi
