#!/usr/bin/env bash
# Installs a build into a temporary DESTDIR and checks the installed tree the way a
# distribution would: every file in its place, the module and demo kit where the program
# looks for them, and the desktop entry and AppStream metainfo through their validators.
#   check_install.sh BUILD_DIR MODULE_FROM_BIN DATA_FROM_BIN APPSTREAM_ID
set -euo pipefail
build="$1" module_rel="$2" data_rel="$3" appstream_id="$4"

dest="$(mktemp -d)"
trap 'rm -rf "$dest"' EXIT
DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
root="$dest/usr"
failed=0
fail() { echo "check_install: $*" >&2; failed=1; }

[[ -x "$root/bin/zembrola" ]] || fail "bin/zembrola is missing"
for f in libzembrola_browser.so; do
    [[ -f "$root/bin/$module_rel/$f" ]] || fail "$f is not in bin/$module_rel"
done
for f in kit-1-kick.wav kit-2-snare.wav kit-3-hihat.wav kit-4-clap.wav; do
    [[ -f "$root/bin/$data_rel/$f" ]] || fail "$f is not in bin/$data_rel"
done
icons="$root/share/icons/hicolor"
for s in 16 22 24 32 48 64 128 256; do
    [[ -f "$icons/${s}x$s/apps/zembrola.png" ]] || fail "no ${s}x$s icon"
done
for f in scalable/apps/zembrola.svg scalable/mimetypes/application-x-zembrola.svg; do
    [[ -f "$icons/$f" ]] || fail "no $f"
done
[[ -f "$root/share/man/man1/zembrola.1" ]] || fail "no man page"
grep -q '@[A-Z_]*@' "$root/share/man/man1/zembrola.1" "$root/share/metainfo/"* &&
    fail "a configure placeholder was left unfilled"

entry="$root/share/applications/zembrola.desktop"
grep -qx 'MimeType=application/x-zembrola;' "$entry" || fail "the entry has no MimeType"
grep -qx 'Exec=zembrola %f' "$entry" || fail "the entry's Exec does not pass the file"
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
appstreamcli validate --pedantic --no-net "$root/share/metainfo/$appstream_id.metainfo.xml" ||
    fail "appstreamcli rejects the metainfo"
# The MIME package compiles and gives the type its glob and icon.
cp -r "$root/share/mime" "$dest/mime"
update-mime-database "$dest/mime" >/dev/null 2>&1 || fail "update-mime-database rejects the package"
grep -q ':application/x-zembrola:\*\.zmbl' "$dest/mime/globs2" || fail "no *.zmbl glob"
exit "$failed"
