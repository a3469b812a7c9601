#!/usr/bin/env bash
# Proves the README's commands on a machine that has nothing: a minimal Debian 12 root made
# with debootstrap, a fresh clone of this repository's HEAD, then, inside it, the README's test
# command, the package build and its installation with apt. What a developer's machine happens
# to have installed cannot hide a missing dependency here.
#
# Usage, as root:  scripts/minimal-root-check.sh [ROOT_DIR] [STEP...]
#   ROOT_DIR defaults to /var/tmp/lumora-minroot; it is made when missing and kept afterwards
#   (delete it to start from nothing again). STEPs: test (scripts/test-all.sh), package
#   (cmake --workflow --preset package, then apt install of the .deb); default: both.
# The root shares this machine's network for apt only; the tests make their own private
# namespaces inside it, where the name server the root inherits cannot be reached, as on an
# isolated gate network. Set LUMORA_SKIP_ASAN=1 to skip the sanitizer half.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "minimal-root-check: run as root (debootstrap, chroot, mounts)" >&2; exit 2; }
root=$(realpath -m "${1:-/var/tmp/lumora-minroot}")
shift || true
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(test package)
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

if ! command -v debootstrap >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap
fi
if [ ! -x "$root/usr/bin/git" ]; then
  echo "== debootstrap --variant=minbase bookworm into $root"
  debootstrap --variant=minbase --include=git,ca-certificates bookworm "$root" "$mirror"
fi
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

# A fresh clone of what is committed, exactly as CI takes it.
rm -rf "$root/root/lumora"
git clone -q --no-local "$PWD" "$root/root/lumora"
git -C "$root/root/lumora" checkout -q "$(git rev-parse HEAD)"

inner='set -e; cd /root/lumora'
for s in "${steps[@]}"; do
  case "$s" in
    test) inner+='; echo "== scripts/test-all.sh"; time scripts/test-all.sh' ;;
    package) inner+='; echo "== cmake --workflow --preset package"; cmake --workflow --preset package
                     echo "== apt install ./build/package/lumora_*.deb"
                     DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./build/package/lumora_*.deb
                     Lumora --version && Modrevo --version' ;;
    *) echo "minimal-root-check: unknown step $s" >&2; exit 2 ;;
  esac
done

# Mounts live in a private mount namespace: they vanish with it, whatever way this ends.
export root inner
unshare -m --propagation private bash -c '
  set -e
  # A real root is a mount point; tests that make their mounts private rely on that.
  mount --bind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs tmpfs "$root/run"
  mount -t tmpfs tmpfs "$root/tmp"
  exec chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" LUMORA_SKIP_ASAN="${LUMORA_SKIP_ASAN:-0}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "$inner"'
echo "minimal-root-check: passed (${steps[*]})"
