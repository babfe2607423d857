#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks the tree: programs, man pages, desktop
# entry, metainfo and icons present; the programs start; the desktop entry and the metainfo pass
# their validators (a validator that is not installed is skipped with a note).
# Usage: install_tree.sh BUILD_DIR GUI(ON|OFF)
set -euo pipefail
build="$1"
gui="$2"
dest="$(mktemp -d)"
trap 'rm -rf "$dest"' EXIT
DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
root="$dest/usr"
fail=0
need() {
  [ -s "$root/$1" ] || { echo "missing: /usr/$1"; fail=1; }
}
need bin/x45eep-cli
need bin/x45sim
need share/man/man1/x45eep-cli.1
"$root/bin/x45eep-cli" --version | grep -q '^x45eep-cli ' || { echo "x45eep-cli does not start"; fail=1; }
grep -q 'JSON OUTPUT' "$root/share/man/man1/x45eep-cli.1" || { echo "x45eep-cli.1 lacks the JSON keys"; fail=1; }
if [ "$gui" = ON ]; then
  need bin/x45eep
  need share/man/man1/x45eep.1
  need share/applications/x45eep.desktop
  need share/metainfo/io.github.x45eep.x45eep.metainfo.xml
  need share/icons/hicolor/scalable/apps/x45eep.svg
  for size in 16 32 48 64 128 256; do need "share/icons/hicolor/${size}x${size}/apps/x45eep.png"; done
  grep -q '^Icon=x45eep$' "$root/share/applications/x45eep.desktop" || { echo "desktop entry names another icon"; fail=1; }
  grep -q '@PROJECT_VERSION@' "$root/share/man/man1/x45eep.1" "$root/share/metainfo/"*.xml \
    && { echo "version placeholder left in an installed file"; fail=1; }
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/share/applications/x45eep.desktop" || fail=1
  else
    echo "desktop-file-validate not installed: desktop entry check skipped"
  fi
  if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root/share/metainfo/io.github.x45eep.x45eep.metainfo.xml" || fail=1
  else
    echo "appstreamcli not installed: metainfo check skipped"
  fi
fi
exit "$fail"
