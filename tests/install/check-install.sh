#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what lands where: the programs, the
# metafile helper in lib/pictova (and that the installed converter finds it there), the help,
# and, with the window, its desktop entry, icon and AppStream data, which must validate.
# Usage: check-install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null

status=0
expect() {
    for file in "$@"; do
        if [ ! -e "$prefix/$file" ]; then
            echo "not installed: $file" >&2
            status=1
        fi
    done
}
expect bin/pictova-cli lib/pictova/pictova-metafile share/pictova/help/index.html \
    share/pictova/help/help.css
if [ -e "$build/bin/pictova" ]; then
    expect bin/pictova share/applications/example.kestrom.Pictova.desktop \
        share/metainfo/example.kestrom.Pictova.metainfo.xml \
        share/icons/hicolor/scalable/apps/example.kestrom.Pictova.svg
fi
desktop-file-validate "$source/packaging/example.kestrom.Pictova.desktop"
appstreamcli validate --no-net "$source/packaging/example.kestrom.Pictova.metainfo.xml" > /dev/null

# The installed converter must use the installed helper, not the one of the build tree: a
# wrapper in its place leaves a mark.
helper=$prefix/lib/pictova/pictova-metafile
mv "$helper" "$helper.real"
printf '#!/bin/sh\n: > "%s"\nexec "%s" "$@"\n' "$prefix/helper-ran" "$helper.real" > "$helper"
chmod +x "$helper"
"$prefix/bin/pictova-cli" --quiet "$source/samples/sample.wmf" -o "$prefix/out.pdf"
if [ ! -e "$prefix/helper-ran" ]; then
    echo "the installed pictova-cli did not run lib/pictova/pictova-metafile" >&2
    status=1
fi
exit $status
