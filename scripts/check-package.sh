#!/usr/bin/env bash
# Packs a build tree with `cpack -G DEB` and checks what the package holds: the programs, the
# menu and autostart entries, the icons, the service unit, the manual pages, the software
# centre's entries, Qt's Portuguese texts and the control fields. Tools that are missing
# (desktop-file-validate, systemd-analyze, man, appstreamcli, lintian) are skipped with a note.
# The unit's exposure as `systemd-analyze security` rates it must be 4.0 or lower.
# Usage: scripts/check-package.sh [BUILD_DIR]   (default build/default); exit 77 = skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/default}")
for t in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$t" >/dev/null || { echo "SKIP: $t is missing"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! (cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1); then
  cat "$work/cpack.log"
  exit 1
fi
deb=$(ls "$work"/out/lumora_*.deb)
root="$work/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -f "$deb" >"$work/control"
status=0
fail() { echo "FAIL: $*"; status=1; }

for f in usr/bin/Lumora usr/bin/Modrevo \
         usr/share/applications/lumora.desktop usr/share/applications/modrevo.desktop \
         usr/share/lumora/autostart/lumora.desktop usr/lib/systemd/system/lumora.service \
         usr/share/doc/lumora/copyright usr/share/doc/lumora/changelog.gz \
         usr/share/man/man1/Lumora.1.gz usr/share/man/man1/Modrevo.1.gz \
         usr/share/doc/lumora/examples/lumora-alerts.yml \
         usr/share/metainfo/lumora.metainfo.xml usr/share/metainfo/modrevo.metainfo.xml; do
  [ -e "$root/$f" ] || fail "$f is not in the package"
done
# The monitoring's alert rules as Prometheus reads them.
if command -v promtool >/dev/null; then
  out=$(promtool check rules "$root/usr/share/doc/lumora/examples/lumora-alerts.yml" 2>&1) ||
    fail "promtool check rules: $out"
else
  echo "note: promtool is missing; the alert rules not checked"
fi
# Nothing of the build tree's own: no tests, tools or benchmarks.
extra=$(cd "$root" && find usr/bin -type f | grep -v -x -e usr/bin/Lumora -e usr/bin/Modrevo || true)
[ -z "$extra" ] || fail "unexpected programs: $extra"

# The packed receiver is the one that keeps its files in the user's data folder.
"$root/usr/bin/Lumora" --help | grep -q 'XDG_DATA_HOME/Lumora' ||
  fail "the packed Lumora does not use the user's data folder"
version=$(sed -n 's/^Version: //p' "$work/control")
[ "$("$root/usr/bin/Lumora" --version)" = "Lumora $version" ] || fail "Lumora --version"
[ "$("$root/usr/bin/Modrevo" --version)" = "Modrevo $version" ] || fail "Modrevo --version"

# Dependencies computed from the binaries: Debian's own Qt 6 libraries.
depends=$(sed -n 's/^Depends: //p' "$work/control")
for d in libqt6core6 libqt6widgets6 libmicrohttpd12 adduser qt6-translations-l10n; do
  grep -q "\b$d\b" <<<"$depends" || fail "Depends lacks $d: $depends"
done
# The service manager's library is optional when building; linked, the package needs it.
if readelf -d "$root/usr/bin/Lumora" | grep -q 'NEEDED.*libsystemd\.so'; then
  grep -q '\blibsystemd0\b' <<<"$depends" || fail "Lumora links libsystemd; Depends lacks it"
fi
for field in Maintainer Description Section; do
  grep -q "^$field: ." "$work/control" || fail "control field $field is missing"
done
dpkg-deb -I "$deb" postinst | grep -q 'adduser --system' || fail "postinst makes no system user"

# Icons: the scalable one and every fixed size, each PNG of the size its folder says.
for app in lumora modrevo; do
  [ -s "$root/usr/share/icons/hicolor/scalable/apps/$app.svg" ] || fail "$app.svg is missing"
  for t in 16 22 24 32 48 64 128 256; do
    png="$root/usr/share/icons/hicolor/${t}x${t}/apps/$app.png"
    if [ ! -s "$png" ]; then
      fail "${t}x${t}/$app.png is missing"
      continue
    fi
    read -r w h < <(od -An -tu4 --endian=big -j16 -N8 "$png")
    [ "$w" = "$t" ] && [ "$h" = "$t" ] || fail "${t}x${t}/$app.png is ${w}x${h}"
  done
  grep -q "^Icon=$app$" "$root/usr/share/applications/$app.desktop" ||
    fail "$app.desktop does not name its icon"
done

if command -v desktop-file-validate >/dev/null; then
  for f in "$root"/usr/share/applications/*.desktop "$root"/usr/share/lumora/autostart/*.desktop; do
    out=$(desktop-file-validate "$f" 2>&1) || fail "desktop-file-validate $f: $out"
    [ -z "$out" ] || echo "note: $out"
  done
else
  echo "note: desktop-file-validate is missing; desktop entries not validated"
fi

unit="$root/usr/lib/systemd/system/lumora.service"
for line in 'User=lumora' 'StateDirectory=lumora' 'KillSignal=SIGTERM' 'Restart=on-failure' \
            'Type=notify' 'WatchdogSec=30' \
            'Environment=QT_QPA_PLATFORM=offscreen' \
            'ExecStart=/usr/bin/Lumora --program-folder /var/lib/lumora'; do
  grep -q -x -F -- "$line" "$unit" || grep -q -F -- "$line " "$unit" || fail "unit lacks $line"
done
if command -v systemd-analyze >/dev/null; then
  # The unit as shipped, with its program taken from the package's tree (it is not installed
  # here).
  mkdir -p "$work/unit"
  sed "s#/usr/bin/Lumora#$root/usr/bin/Lumora#" "$unit" >"$work/unit/lumora.service"
  if ! out=$(systemd-analyze verify "$work/unit/lumora.service" 2>&1); then
    fail "systemd-analyze verify: $out"
  elif grep -q 'lumora\.service' <<<"$out"; then
    fail "systemd-analyze verify: $out"  # a directive it ignores is still a fault
  elif [ -n "$out" ]; then
    echo "note: $out"
  fi
  # The receiver faces whatever the venue network holds: its unit must stay confined.
  if out=$(systemd-analyze security --offline=yes "$work/unit/lumora.service" 2>&1); then
    exposure=$(sed -n 's/.*Overall exposure level for lumora\.service: \([0-9.]*\).*/\1/p' <<<"$out")
    if [ -z "$exposure" ]; then
      fail "systemd-analyze security gave no exposure level: $out"
    elif ! awk -v e="$exposure" 'BEGIN { exit !(e <= 4.0) }'; then
      fail "the unit's exposure is $exposure, above 4.0: $(grep -F '✗' <<<"$out")"
    else
      echo "unit exposure $exposure"
    fi
  elif grep -q -- '--offline' <<<"$out"; then
    echo "note: this systemd-analyze cannot rate a unit offline; exposure not measured"
  else
    fail "systemd-analyze security: $out"
  fi
else
  echo "note: systemd-analyze is missing; the unit not verified"
fi

# Qt's own texts in Portuguese, as the programs load them: the translations the package
# depends on must be where this Qt looks. The printing program is built with the tests only.
if [ -x "$build/bin/traducao_qt" ]; then
  if out=$(QT_QPA_PLATFORM=offscreen "$build/bin/traducao_qt" 2>&1); then
    for line in 'question Sim Não' 'confirm OK Cancelar' 'file-chooser Salvar Cancelar'; do
      grep -q -x -F -- "$line" <<<"$out" || fail "Qt's texts: no \"$line\" in: $out"
    done
  else
    fail "Qt's texts: $out"
  fi
else
  echo "note: $build/bin/traducao_qt is not built; Qt's texts not checked"
fi

# The manual pages: each renders without a warning, and documents every option its program's
# --help lists.
for program in Lumora Modrevo; do
  page="$root/usr/share/man/man1/$program.1.gz"
  [ -s "$page" ] || continue
  if command -v man >/dev/null; then
    if ! text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>"$work/man.err"); then
      fail "man $program: $(cat "$work/man.err")"
    elif [ -s "$work/man.err" ]; then
      fail "man $program warns: $(cat "$work/man.err")"
    fi
    # `man Lumora` once installed: found by the program's own name.
    [ "$(MANPATH="$root/usr/share/man" man -w "$program" 2>/dev/null)" = "$page" ] ||
      fail "man $program does not find $page"
    grep -q "^NAME" <<<"$text" && grep -q "^EXIT STATUS" <<<"$text" && grep -q "^FILES" <<<"$text" ||
      fail "man $program lacks NAME, EXIT STATUS or FILES"
    for option in $("$root/usr/bin/$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
      grep -q -- "$option\b" <<<"$text" || fail "man $program does not document $option"
    done
  else
    echo "note: man is missing; the manual pages not rendered"
  fi
done

# The software centre's entries: valid, each naming a menu entry of the package, released at
# the package's version, with screenshots that are the pictures in docs/.
for app in lumora modrevo; do
  info="$root/usr/share/metainfo/$app.metainfo.xml"
  [ -s "$info" ] || continue
  desktop=$(sed -n 's#.*<launchable type="desktop-id">\(.*\)</launchable>.*#\1#p' "$info")
  [ -n "$desktop" ] && [ -e "$root/usr/share/applications/$desktop" ] ||
    fail "$app.metainfo.xml names no menu entry of the package: \"$desktop\""
  grep -q "<release version=\"$version\"" "$info" || fail "$app.metainfo.xml has no release $version"
  shots=$(grep -o 'https://[^<]*\.png' "$info" || true)
  [ -n "$shots" ] || fail "$app.metainfo.xml has no screenshots"
  for shot in $shots; do
    [ -s "docs/$(basename "$shot")" ] || fail "$app.metainfo.xml shows $shot, not in docs/"
  done
  if command -v appstreamcli >/dev/null; then
    # --no-net: the screenshots' addresses are the project's own, not fetched here.
    out=$(appstreamcli validate --no-net --no-color "$info" 2>&1) ||
      fail "appstreamcli validate $app.metainfo.xml: $out"
  else
    echo "note: appstreamcli is missing; the software centre's entries not validated"
  fi
done

if [ "${LUMORA_LINTIAN:-0}" = 1 ]; then
  if command -v lintian >/dev/null; then
    # Warnings too: what is left are notes (I:) on choices of the build, never warnings.
    lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"
  else
    echo "note: lintian is missing"
  fi
fi

[ $status = 0 ] && echo "package ok: $(basename "$deb")"
exit $status
