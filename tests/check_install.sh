#!/usr/bin/env bash
# Installs a build into a staging folder as `cmake --install` would for a user,
# checks that every file of the desktop application is there and that the
# desktop entry, the AppStream metadata and the manual page pass their
# validators; with --package, also builds the Debian package and checks what it
# installs and what it depends on.
#   check_install.sh BUILD_DIR APP_ID VERSION [--package]
set -euo pipefail
build=$(realpath "$1") id=$2 version=$3 package=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$work/stage" cmake --install "$build" --prefix /usr/local >"$work/install.log" ||
  { cat "$work/install.log"; fail "cmake --install"; }
root="$work/stage/usr/local"
files=(
  bin/temra
  bin/temra-cli
  "share/applications/$id.desktop"
  "share/metainfo/$id.metainfo.xml"
  "share/icons/hicolor/scalable/apps/$id.svg"
  "share/icons/hicolor/256x256/apps/$id.png"
  share/man/man1/temra-cli.1
  share/doc/temra/LICENSE
  share/doc/temra/guide.md
  share/doc/temra/examples/springs.csv
  share/doc/temra/examples/columns.py
  share/doc/temra/examples/make_springs.py
)
# The Python module, where the build makes one: in Debian's place for local
# packages, which the system's Python reads.
module=()
if [ -f "$build/python/temra/__init__.py" ]; then
  site=$(/usr/bin/python3 -c 'import sys; print(f"lib/python{sys.version_info[0]}.{sys.version_info[1]}/dist-packages")')
  so=$(basename "$build"/python/temra/_temra*.so)
  module=("$site/temra/__init__.py" "$site/temra/__init__.pyi" "$site/temra/py.typed" "$site/temra/$so")
fi
for f in "${files[@]}" "${module[@]}"; do
  [ -s "$root/$f" ] || [[ "$f" == */py.typed && -f "$root/$f" ]] || fail "not installed: $f"
done
# Nothing but these (no tests, benchmarks or build tools).
extra=$(cd "$root" && find . -type f | sed 's|^\./||' | grep -vxF -f <(printf '%s\n' "${files[@]}" "${module[@]}" share/doc/temra/README.md) || true)
[ -z "$extra" ] || fail "installed beyond the application: $extra"

file "$root/share/icons/hicolor/256x256/apps/$id.png" | grep -q "PNG image data, 256 x 256" ||
  fail "the icon is not a 256-pixel PNG: $(file "$root/share/icons/hicolor/256x256/apps/$id.png")"
"$root/bin/temra-cli" --version | grep -qx "temra-cli $version" || fail "temra-cli --version"
# Errors and warnings fail; the one hint expected is that Education and Science
# are both main categories: menus with a Science menu show Temra there, the
# others under Education.
notes=$(desktop-file-validate "$root/share/applications/$id.desktop" 2>&1) ||
  fail "desktop-file-validate: $notes"
unexpected=$(grep -v 'contains more than one main category' <<<"$notes" || true)
[ -z "$unexpected" ] || fail "desktop-file-validate: $unexpected"
grep -qx "Exec=temra" "$root/share/applications/$id.desktop" || fail "Exec"
grep -qx "Icon=$id" "$root/share/applications/$id.desktop" || fail "Icon"
appstreamcli validate --no-net --pedantic --explain "$root/share/metainfo/$id.metainfo.xml" ||
  fail "appstreamcli validate"
grep -q "<release version=\"$version\"" "$root/share/metainfo/$id.metainfo.xml" ||
  fail "AppStream release $version"
warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$root/share/man/man1/temra-cli.1" 2>&1 || true)
[ -z "$warnings" ] || fail "groff: $warnings"
man=$(LC_ALL=C.UTF-8 MANWIDTH=100 man -l "$root/share/man/man1/temra-cli.1" 2>/dev/null)
for section in NAME SYNOPSIS DESCRIPTION OPTIONS COMMANDS "EXIT STATUS" ENVIRONMENT EXAMPLES; do
  grep -q "^$section" <<<"$man" || fail "manual page without $section"
done
# Every option that --help lists is in the manual page.
for sub in "" grid fit fit-ea pair study; do
  # shellcheck disable=SC2086
  for option in $("$root/bin/temra-cli" $sub --help | grep -o -- '--[a-z0-9-]*' | sort -u); do
    grep -q -- "$option" <<<"$man" || fail "manual page without $option"
  done
done
# Every example of the manual page runs as shown.
examples=$(sed -n '/^EXAMPLES/,/^SEE ALSO/p' <<<"$man" | sed -n 's/^ *\(temra-cli .*\)$/\1/p')
[ -n "$examples" ] || fail "no examples in the manual page"
mkdir "$work/examples"
printf 'sample,Ne-20,Ar-40,Kr-84,Xe\nA,2.39e-07,0.000382,4.92e-08,1.23e-08\n' >"$work/examples/samples.csv"
while IFS= read -r example; do
  (cd "$work/examples" && PATH="$root/bin:$PATH" bash -c "$example" >/dev/null 2>"$work/example.err") ||
    fail "the example \"$example\" failed: $(cat "$work/example.err")"
done <<<"$examples"
echo "$(wc -l <<<"$examples") examples of the manual page ran"
# The manual page names the guide where it is installed, and the guide's example
# runs from there with the installed temra-cli.
grep -q "share/doc/temra/guide.md" <<<"$man" || fail "the manual page does not name the guide"
grep -q "^# Temra user guide" "$root/share/doc/temra/guide.md" || fail "the guide's title"
(cd "$root/share/doc/temra" && PATH="$root/bin:$PATH" temra-cli --temp-max 20 study examples/springs.csv |
   python3 examples/columns.py sample dof | grep -qx "S5      1") ||
  fail "the guide's example does not run from the installed documentation"
# The installed module is imported and fits the guide's example by itself.
if [ ${#module[@]} -gt 0 ]; then
  (cd "$work" && PYTHONPATH="$root/$site" /usr/bin/python3 -W error::DeprecationWarning -c \
     "import temra; assert temra.study('$root/share/doc/temra/examples/springs.csv').shape[0] == 5" \
     2>"$work/python.err") || fail "the installed module: $(cat "$work/python.err")"
fi
echo "installed and valid: ${files[*]}"

[ "$package" = --package ] || exit 0
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log") ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/pkg/temra_"$version"*.deb)
contents=$(dpkg-deb -c "$deb")
for f in "${files[@]}"; do
  grep -q " \./usr/$f$" <<<"$contents" || fail ".deb lacks /usr/$f"
done
if [ ${#module[@]} -gt 0 ]; then
  for f in __init__.py __init__.pyi py.typed "$so"; do
    grep -q " \./usr/lib/python3/dist-packages/temra/$f$" <<<"$contents" ||
      fail ".deb lacks the module's $f in /usr/lib/python3/dist-packages/temra"
  done
  dpkg-deb -x "$deb" "$work/unpacked"
  (cd "$work" && PYTHONPATH="$work/unpacked/usr/lib/python3/dist-packages" /usr/bin/python3 -c \
     "import temra; assert len(temra.models()) > 0" 2>"$work/python.err") ||
    fail "the packaged module: $(cat "$work/python.err")"
fi
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6svg6 libxlsxwriter libcsv3 libminizip libexpat1 qt6-qpa-plugins; do
  grep -q "$lib" <<<"$depends" || fail ".deb does not depend on $lib: $depends"
done
if [ ${#module[@]} -gt 0 ]; then
  for p in python3-numpy python3-pandas "python3 (>= " "python3 (<< "; do
    grep -qF "$p" <<<"$depends" || fail ".deb does not depend on $p: $depends"
  done
fi
if grep -qE -- '-dev\b|libasan|libubsan' <<<"$depends"; then fail ".deb depends on $depends"; fi
apt-get install --simulate -qq "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "the .deb cannot be installed here"; }
echo "package $(basename "$deb"): Depends: $depends"
