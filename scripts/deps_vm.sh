# Sourced by deps.sh: what the rescue-media builds, the .deb and the
# virtual-machine tests use. Without it those builds and tests are left out or
# reported as skipped, with the reason.
command -v qemu-system-x86_64 >/dev/null || want+=(qemu-system-x86)
ls /boot/vmlinuz-* >/dev/null 2>&1 || want+=(linux-image-amd64)
{ [ -x /bin/busybox ] && ! ldd /bin/busybox >/dev/null 2>&1; } || want+=(busybox-static)
ls /usr/lib/gcc/x86_64-linux-gnu/*/32/libstdc++.a >/dev/null 2>&1 || want+=(g++-multilib)
command -v dpkg-shlibdeps >/dev/null || want+=(dpkg-dev)
command -v man >/dev/null || want+=(man-db)
command -v col >/dev/null || want+=(bsdextrautils)
command -v lintian >/dev/null || want+=(lintian)
