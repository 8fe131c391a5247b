#!/bin/bash
# The Debian package as a user's system meets it.
#
#   package_test.sh BUILD_DIR SOURCE_DIR VERSION
#
# Builds the package with CPack from the build tree into a temporary folder and checks its
# control fields, its exact file list, modes, stripped binaries, conffiles and maintainer scripts,
# and what lintian says. Then, as root, it installs the package into a throw-away copy of this
# system (an overlay over / in a private mount namespace, chrooted into), checks that the port
# helper alone received CAP_NET_BIND_SERVICE, runs the installed program (its search only inside
# a fresh network namespace), removes and purges the package and checks that nothing of it is
# left. The host's / is never written: every change lands in the overlay's upper folder, which
# goes away with the namespace.
#
# Exit status: 0 all checks passed, 1 a check failed, 77 the package is fine but could not be
# installed here (not root, no unshare or no overlayfs).
# The dpkg-query formats below are dpkg's own ${...} fields, not the shell's.
# shellcheck disable=SC2016
set -euo pipefail

readonly skip_status=77
export PATH="$PATH:/usr/sbin:/sbin"
export LC_ALL=C.UTF-8

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly here
readonly helper_path=/usr/libexec/tarvelo/tarvelo-port-helper
readonly nobody_ids=65534:65534

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# Says which of the expected lines are missing from ACTUAL and which it has beyond them; both are
# files of sorted lines.
compare_lists() {
  local what=$1 expected=$2 actual=$3
  if diff -u "$expected" "$actual" >"$work/diff" 2>&1; then
    pass "$what"
  else
    fail "$what differs (- expected, + actual):"
    sed -n '3,$p' "$work/diff" | grep '^[-+]' >&2 || true
  fi
}

# ---------------------------------------------------------------------------------------------
# The throw-away system. Runs inside `unshare -m --propagation private`, so every mount made here
# vanishes with the process.
# ---------------------------------------------------------------------------------------------
in_namespace() {
  work=$1
  local deb=$2 source_dir=$3 version=$4
  local ov=$work/overlay root=$work/overlay/root

  mkdir -p "$ov"
  if ! mount -t tmpfs -o mode=0755 tarvelo-package-test "$ov" ||
    ! mkdir "$ov/upper" "$ov/work" "$root" ||
    ! mount -t overlay overlay -o "lowerdir=/,upperdir=$ov/upper,workdir=$ov/work" "$root"; then
    echo "SKIP: cannot mount an overlay over / here; the package was only checked as a file" >&2
    return $skip_status
  fi
  mount --rbind /dev "$root/dev"
  mount --bind /proc "$root/proc"
  mount --bind /sys "$root/sys"
  # A private /tmp and /run, so that nothing the programs write there reaches the host.
  mount -t tmpfs -o mode=1777 tmp "$root/tmp"
  mount -t tmpfs -o mode=0755 run "$root/run"
  cp "$deb" "$root/tmp/tarvelo.deb"
  cp "$source_dir/res/skin/WndLayoutInfo_150.xml" "$root/tmp/layout.xml"
  install -d -o 65534 -g 65534 -m 0700 "$root/tmp/home" "$root/tmp/home/runtime"

  as_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 "$@"; }
  # The program runs as an unprivileged user, as on a desktop, so that the search depends on the
  # helper's capability and not on root's.
  as_user() {
    chroot --userspec=$nobody_ids "$root" env -i PATH=/usr/bin:/bin LC_ALL=C.UTF-8 \
      HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/home/runtime XDG_DATA_HOME=/tmp/home/data \
      XDG_CONFIG_HOME=/tmp/home/config QT_QPA_PLATFORM=offscreen "$@"
  }
  status_of() { as_root dpkg-query -W -f='${db:Status-Abbrev}' tarvelo 2>/dev/null || true; }

  # Installing.
  local started=$SECONDS
  if as_root dpkg -i /tmp/tarvelo.deb >"$work/dpkg-i.log" 2>&1; then
    pass "dpkg -i ($((SECONDS - started)) s)"
  else
    fail "dpkg -i failed:"
      cat "$work/dpkg-i.log" >&2
    return 1
  fi
  if grep -qi 'warning' "$work/dpkg-i.log"; then
    fail "the installation warned:"
    cat "$work/dpkg-i.log" >&2
  fi
  [[ $(status_of) == "ii " ]] || fail "status after dpkg -i is '$(status_of)', not 'ii'"
  as_root dpkg-query -L tarvelo | sort >"$work/installed-paths"
  as_root dpkg-query -W -f='${Conffiles}\n' tarvelo | awk 'NF { print $1 }' | sort >"$work/conffiles"
  local path
  while read -r path; do
    [[ -d $root$path ]] || echo "$path"
  done <"$work/installed-paths" >"$work/installed-files"
  compare_lists "files dpkg installed" "$work/expected-files" "$work/installed-files"

  # The capability: the helper gains cap_net_bind_service, and no other file gains anything.
  check_capabilities() {
    local when=$1
    getcap -r /usr/bin /usr/sbin /usr/libexec /usr/lib 2>/dev/null | sort >"$work/caps-host" || true
    as_root getcap -r /usr/bin /usr/sbin /usr/libexec /usr/lib 2>/dev/null |
      sort >"$work/caps-chroot" || true
    comm -13 "$work/caps-host" "$work/caps-chroot" >"$work/caps-added"
    echo "$helper_path cap_net_bind_service=ep" >"$work/caps-expected"
    compare_lists "capabilities $when" "$work/caps-expected" "$work/caps-added"
    local mode
    mode=$(stat -c '%A %U:%G' "$root$helper_path")
    [[ $mode == "-rwxr-xr-x root:root" ]] || fail "the helper is '$mode' $when"
  }
  check_capabilities "after installing"

  # A reinstallation unpacks a new file, which carries no capability; the postinst grants it again.
  started=$SECONDS
  if as_root dpkg -i /tmp/tarvelo.deb >"$work/dpkg-i2.log" 2>&1; then
    pass "dpkg -i again ($((SECONDS - started)) s)"
    check_capabilities "after reinstalling"
  else
    fail "reinstalling failed:"
    cat "$work/dpkg-i2.log" >&2
  fi

  # Without setcap (here: not on PATH) the postinst warns once and lets the installation succeed.
  local rc=0
  chroot "$root" env -i PATH=/nonexistent /bin/sh /var/lib/dpkg/info/tarvelo.postinst configure \
    >"$work/postinst.out" 2>"$work/postinst.err" || rc=$?
  if [[ $rc -eq 0 && $(wc -l <"$work/postinst.err") -eq 1 ]] &&
    grep -q 'warning: could not grant CAP_NET_BIND_SERVICE' "$work/postinst.err"; then
    pass "postinst without setcap warns once and succeeds"
  else
    fail "postinst without setcap: status $rc, stderr:"
    cat "$work/postinst.err" >&2
  fi
  [[ $(stat -c '%A' "$root$helper_path") == -rwxr-xr-x ]] ||
    fail "postinst without setcap changed the helper's mode"

  # The installed program, from the package's paths and with the package's dependencies.
  rc=0
  as_user /usr/bin/tarvelo --version >"$work/version.out" 2>&1 || rc=$?
  if [[ $rc -eq 0 ]] && grep -qF "$version" "$work/version.out"; then
    pass "tarvelo --version: $(head -n 1 "$work/version.out")"
  else
    fail "tarvelo --version: status $rc, output:"
    cat "$work/version.out" >&2
  fi
  rc=0
  as_user /usr/bin/tarvelo --help >"$work/help.out" 2>&1 || rc=$?
  if [[ $rc -eq 0 ]] && grep -q -- '--search' "$work/help.out" &&
    grep -q -- '--render-layout' "$work/help.out"; then
    pass "tarvelo --help"
  else
    fail "tarvelo --help: status $rc, output:"
    cat "$work/help.out" >&2
  fi
  rc=0
  as_user /usr/bin/tarvelo --render-layout /tmp/layout.xml --out /tmp/home/layout.png \
    >"$work/render.out" 2>&1 || rc=$?
  local picture
  picture=$(file -b "$root/tmp/home/layout.png" 2>/dev/null || true)
  if [[ $rc -eq 0 && $picture == "PNG image data, 328 x 245,"* ]]; then
    pass "tarvelo --render-layout: $picture"
  else
    fail "tarvelo --render-layout: status $rc, picture '$picture', output:"
    cat "$work/render.out" >&2
  fi
  # Network safety: the search runs only in a network namespace of its own, which holds nothing
  # but a loopback link, so its broadcasts and multicasts reach no real network. Run as nobody,
  # the broadcast search can bind port 67 only through the installed helper.
  rc=0
  unshare -n -- sh -c 'ip link set lo up && exec "$@"' sh \
    chroot --userspec=$nobody_ids "$root" env -i PATH=/usr/bin:/bin LC_ALL=C.UTF-8 \
    HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/home/runtime XDG_DATA_HOME=/tmp/home/data \
    XDG_CONFIG_HOME=/tmp/home/config \
    timeout 30 /usr/bin/tarvelo --search --seconds 1 >"$work/search.out" 2>"$work/search.err" ||
    rc=$?
  if [[ $rc -eq 0 ]]; then
    pass "tarvelo --search --seconds 1 as nobody in a private network: $(tr '\n' ' ' <"$work/search.err")"
  else
    fail "tarvelo --search --seconds 1 as nobody: status $rc, stdout and stderr:"
    cat "$work/search.out" "$work/search.err" >&2
  fi

  # Removing keeps the conffiles, purging takes them too; either leaves no other file behind.
  left_behind() {
    local path
    while read -r path; do
      if [[ -e $root$path || -L $root$path ]] && ! [[ -d $root$path && -d $path ]]; then
        echo "$path"
      fi
    done <"$work/installed-paths"
  }
  started=$SECONDS
  if as_root dpkg -r tarvelo >"$work/dpkg-r.log" 2>&1; then
    pass "dpkg -r ($((SECONDS - started)) s)"
    [[ $(status_of) == "rc " ]] || fail "status after dpkg -r is '$(status_of)', not 'rc'"
    left_behind | sort >"$work/left-after-remove"
    compare_lists "files left after dpkg -r (the conffiles)" "$work/conffiles" \
      "$work/left-after-remove"
  else
    fail "dpkg -r failed:"
    cat "$work/dpkg-r.log" >&2
  fi
  started=$SECONDS
  if as_root dpkg -P tarvelo >"$work/dpkg-p.log" 2>&1; then
    pass "dpkg -P ($((SECONDS - started)) s)"
    [[ -z $(status_of) ]] || fail "status after dpkg -P is '$(status_of)', not unknown"
    left_behind >"$work/left-after-purge"
    compare_lists "files left after dpkg -P (none)" /dev/null "$work/left-after-purge"
  else
    fail "dpkg -P failed:"
    cat "$work/dpkg-p.log" >&2
  fi
  # Nothing but folders that existed before and the caches that other packages' triggers
  # rebuild stays in the overlay below /usr and /etc.
  (cd "$ov/upper" && find usr etc -mindepth 1 ! -type d 2>/dev/null) |
    grep -Ev '(^|/)(icon-theme\.cache|mimeinfo\.cache|ld\.so\.cache)$' |
    sed 's|^|/|' | sort >"$work/upper-left" || true
  compare_lists "files written below /usr and /etc that stayed after purging" /dev/null \
    "$work/upper-left"

  [[ $failures -eq 0 ]]
}

if [[ ${1:-} == --in-namespace ]]; then
  shift
  in_namespace "$@"
  exit $?
fi

# ---------------------------------------------------------------------------------------------
# The package as a file.
# ---------------------------------------------------------------------------------------------
if [[ $# -ne 3 ]]; then
  echo "usage: $0 BUILD_DIR SOURCE_DIR VERSION" >&2
  exit 2
fi
build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
version=$3

for tool in cpack dpkg dpkg-deb dpkg-shlibdeps lintian file getcap; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/setup.sh installs it)" >&2
    exit $skip_status
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvelo-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
grep -v '^#' "$here/expected-files" | sort >"$work/expected-files"

started=$SECONDS
if ! cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1
then
  echo "FAIL: cpack failed:" >&2
  cat "$work/cpack.log" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
deb=$work/out/tarvelo_${version}_${arch}.deb
if [[ ! -f $deb ]]; then
  echo "FAIL: cpack made no $(basename "$deb"):" >&2
  ls "$work/out" >&2
  exit 1
fi
pass "cpack made $(basename "$deb") ($(stat -c %s "$deb") bytes, $((SECONDS - started)) s)"

# The control fields.
field() { dpkg-deb -f "$deb" "$1"; }
while read -r name expected; do
  actual=$(field "$name")
  [[ $actual == "$expected" ]] || fail "$name is '$actual', not '$expected'"
done <<EOF
Package tarvelo
Version $version
Architecture $arch
Section net
Priority optional
EOF
for name in Maintainer Homepage Installed-Size; do
  [[ -n $(field "$name") ]] || fail "the package has no $name"
done
description=$(field Description)
[[ $(wc -l <<<"$description") -ge 5 ]] ||
  fail "the description has no long part: '$description'"

# Each clause the program needs at run time, exactly (alternatives in this order), and the
# libraries dpkg-shlibdeps found.
clauses() { field "$1" | tr ',' '\n' | sed 's/^ *//; s/ *$//' | sed '/^$/d'; }
clauses Depends >"$work/depends"
while read -r clause; do
  grep -qxF "$clause" "$work/depends" || fail "Depends lacks '$clause': $(field Depends)"
done <<'EOF'
xdg-utils
gvfs
gvfs-backends
libcap2-bin
qt6-qpa-plugins
qt6-wayland
fonts-liberation | fonts-liberation2
fonts-dejavu-core
fonts-wqy-zenhei | fonts-noto-cjk
EOF
for library in libc6 libstdc++6 libqt6core6 libqt6widgets6 libglib2.0-0; do
  grep -q "^$library\( \|$\)" "$work/depends" ||
    fail "Depends lacks $library, which dpkg-shlibdeps should have found: $(field Depends)"
done
clauses Suggests | grep -qxF 'firewalld | ufw' ||
  fail "Suggests lacks 'firewalld | ufw': '$(field Suggests)'"
pass "control fields: $(field Depends)"

# The files, exactly; their owners and modes; no empty folders.
dpkg-deb -c "$deb" | awk '{ sub(/^\./, "", $6); print substr($1, 1, 1), $1, $2, $6 }' \
  >"$work/contents"
awk '$1 != "d" { print $4 }' "$work/contents" | sort >"$work/files"
compare_lists "file list" "$work/expected-files" "$work/files"
while read -r type mode owner path; do
  if [[ $type == d ]]; then
    want=drwxr-xr-x
    grep -q "^${path%/}/" "$work/files" || fail "empty folder $path"
  elif [[ $path == /usr/bin/* || $path == /usr/libexec/* ]]; then
    want=-rwxr-xr-x
  else
    want=-rw-r--r--
  fi
  [[ $mode == "$want" && $owner == root/root ]] || fail "$path is $mode $owner, not $want root/root"
done <"$work/contents"

dpkg-deb -x "$deb" "$work/x"
dpkg-deb -e "$deb" "$work/control"
(cd "$work/x" && md5sum --quiet -c "$work/control/md5sums") >&2 || fail "md5sums do not match"

while read -r path; do
  kind=$(file -b "$work/x$path")
  if [[ $kind == ELF* ]]; then
    [[ $kind == *", stripped"* ]] || fail "$path is not stripped: $kind"
  elif [[ $path == /usr/bin/* || $path == /usr/libexec/* ]]; then
    fail "$path is not a program: $kind"
  fi
done <"$work/files"

grep '^/etc/' "$work/files" >"$work/etc-files" || true
sort "$work/control/conffiles" 2>/dev/null >"$work/conffiles" || : >"$work/conffiles"
compare_lists "conffiles (every file below /etc)" "$work/etc-files" "$work/conffiles"
dpkg-deb --ctrl-tarfile "$deb" | tar -tvf - |
  awk '{ sub(/^\.\//, "", $6); if ($6 != "" && $6 != "./") print $1, $6 }' >"$work/control-modes"
while read -r mode name; do
  case $name in
  preinst | postinst | prerm | postrm) want=-rwxr-xr-x ;;
  *) want=-rw-r--r-- ;;
  esac
  [[ $mode == "$want" ]] || fail "control file $name is $mode, not $want"
done <"$work/control-modes"
grep -qx postinst <(awk '{ print $2 }' "$work/control-modes") || fail "the package has no postinst"
for script in preinst postinst prerm postrm; do
  if [[ -f $work/control/$script ]]; then
    sh -n "$work/control/$script" || fail "$script is not valid sh"
    grep -q '^set -e' "$work/control/$script" || fail "$script does not set -e"
  fi
done

# Packaging runs the install rules as root with DESTDIR set; none of them may grant a capability
# then (the archive could not keep it anyway, and the staging folder is no place for one).
staged_caps=$(getcap -r "$work/out/_CPack_Packages" 2>/dev/null || true)
[[ -z $staged_caps ]] || fail "packaging granted capabilities: $staged_caps"

# Lintian: errors and warnings fail the test, except the tags accepted with a reason.
suppressed=$(awk '!/^#/ && NF { print $1 }' "$here/lintian-suppressions" | paste -sd, -)
started=$SECONDS
lintian_status=0
lintian --fail-on error,warning ${suppressed:+--suppress-tags "$suppressed"} "$deb" \
  >"$work/lintian.log" 2>&1 || lintian_status=$?
if [[ $lintian_status -eq 0 ]] && ! grep -q '^[EW]: ' "$work/lintian.log"; then
  pass "lintian ($((SECONDS - started)) s)${suppressed:+, accepted: $suppressed}"
else
  fail "lintian (status $lintian_status):"
fi
sed 's/^/  lintian: /' "$work/lintian.log"

# ---------------------------------------------------------------------------------------------
# The package on a system.
# ---------------------------------------------------------------------------------------------
install_status=0
if [[ $(id -u) -ne 0 ]]; then
  echo "SKIP: installing the package needs root; it was only checked as a file" >&2
  install_status=$skip_status
elif ! command -v unshare >/dev/null || ! command -v chroot >/dev/null; then
  echo "SKIP: installing the package needs unshare and chroot; it was only checked as a file" >&2
  install_status=$skip_status
else
  # What the host's dpkg database and the package's places look like, before and after.
  host_state() {
    stat -c '%n %s %Y' /var/lib/dpkg/status
    ls -d /usr/bin/tarvelo /usr/libexec/tarvelo /usr/share/doc/tarvelo 2>&1 || true
  }
  host_before=$(host_state | md5sum)
  unshare -m --propagation private -- "$0" --in-namespace "$work" "$deb" "$source_dir" \
    "$version" || install_status=$?
  host_after=$(host_state | md5sum)
  [[ $host_before == "$host_after" ]] || fail "the host's dpkg database or /usr changed"
fi

if [[ $failures -ne 0 || ($install_status -ne 0 && $install_status -ne $skip_status) ]]; then
  echo "FAILED: $failures check(s) of the package failed" >&2
  exit 1
fi
exit $install_status
