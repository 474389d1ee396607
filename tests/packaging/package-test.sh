#!/usr/bin/env bash
# The Debian package as Debian's tools and a user meet it. Usage: package-test.sh STEP BUILD_DIR
#   build      scripts/package (dpkg-buildpackage) into BUILD_DIR/package-test/, the other steps' input
#   validate   lintian --pedantic (no tag but overridden ones), desktop-file-validate, appstreamcli
#   builddeps  Build-Depends: installed by scripts/install-deps, and exactly the packages whose
#              headers the build included (beyond what those pull in)
#   reproducible  a second build in another folder, later, in another time zone and locale, gives
#              the same bytes
#   relocated  the unpacked tree, moved elsewhere, answers the bundled sample with no source tree
#              in reach; it fails clearly without its resources; QUIBBLERS_RESOURCES overrides
#   manual     the manual page renders and covers every option; the completion offers them all
#   apt        as root: apt-get install, run /usr/bin/quibblers, purge, nothing left behind
# Not in ctest (root, the Debian archive and minutes each; scripts/test --package runs them):
#   piuparts   install, remove and purge in a clean bookworm chroot made by debootstrap
#   autopkgtest   debian/tests against the installed package, with the null runner (this
#              machine; the package is purged afterwards) and the chroot runner (a clean bookworm)
set -euo pipefail
step=$1
build=$(cd "$2" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
dir=$build/package-test
fail() { echo "FAIL: $*" >&2; exit 1; }
deb() { find "$dir" -maxdepth 1 -name 'quibblers_*.deb' -print -quit; }
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quibblers-package-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# The runs below keep their usage sessions to themselves and send them nowhere.
export XDG_DATA_HOME=$scratch/data
quiet_server=(--collection-server 127.0.0.1:9)

case $step in
build)
  rm -rf "$dir"
  # The build folder stays (work/): builddeps reads what the compiler included.
  "$source_dir/scripts/package" --out "$dir" --all --work "$dir/work" >/dev/null
  [ -n "$(deb)" ] || fail "scripts/package made no quibblers_*.deb"
  dpkg-deb -x "$(deb)" "$dir/root"
  ;;

validate)
  changes=$(find "$dir" -maxdepth 1 -name 'quibblers_*.changes' -print -quit)
  lint=(lintian --pedantic --display-info --fail-on error,warning,info,pedantic "$changes")
  "${lint[@]}" >"$scratch/lintian" 2>&1 || { cat "$scratch/lintian" >&2; fail "lintian reports the tags above"; }
  desktop-file-validate "$dir"/root/usr/share/applications/*.desktop || fail "desktop-file-validate"
  appstreamcli validate --no-net "$dir"/root/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
  # The menu shows the entry with the icon: the names the entry and the metadata use exist.
  entry=$(find "$dir/root/usr/share/applications" -name '*.desktop' -print -quit)
  id=$(basename "$entry" .desktop)
  grep -qx "Icon=$id" "$entry" || fail "$entry: Icon is not $id"
  ! grep -q '^Terminal=true' "$entry" || fail "$entry runs in a terminal"
  for size in 16x16 24x24 48x48 64x64 128x128 256x256 512x512; do
    [ -s "$dir/root/usr/share/icons/hicolor/$size/apps/$id.png" ] || fail "no $size icon $id.png"
  done
  [ -s "$dir/root/usr/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon $id.svg"
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
    "$dir/root/usr/share/metainfo/$id.metainfo.xml" || fail "the metadata does not launch $id.desktop"
  fields=$(dpkg-deb -f "$(deb)" Depends Recommends Maintainer Description)
  grep -q '^Recommends:.*\bffmpeg\b' <<<"$fields" || fail "ffmpeg is not recommended: $fields"
  if grep '^Depends:' <<<"$fields" | grep -Eq -- '-dev\b|\bffmpeg\b'; then
    fail "Depends names a development package or ffmpeg: $fields"
  fi
  ;;

builddeps)
  python3 "$source_dir/tests/packaging/build-depends.py" "$source_dir" "$dir"/work/quibblers/obj-* ||
    fail "debian/control's Build-Depends and the build disagree (above)"
  ;;

reproducible)
  # Same commit, another folder, another time, time zone, locale and umask.
  again=$scratch/elsewhere/deeper
  mkdir -p "$again"
  (umask 002; TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 \
     "$source_dir/scripts/package" --out "$again" >/dev/null) || fail "the second build failed"
  first=$(deb)
  second=$again/$(basename "$first")
  [ -f "$second" ] || fail "the second build made no $(basename "$first")"
  if ! cmp -s "$first" "$second"; then
    diffoscope --text - "$first" "$second" 2>&1 | head -n 80 >&2 || true
    fail "two builds of the same tree differ (above)"
  fi
  ;;

relocated)
  cp -a "$dir/root" "$scratch/unpacked"
  mv "$scratch/unpacked" "$scratch/moved"
  tree=$scratch/moved/usr
  program=$tree/bin/quibblers
  sample=$tree/share/quibblers/samples/hello-quibblers.wav
  ! grep -qF "$source_dir" "$program" || fail "the packaged program names the source tree"
  cd /
  env -u QUIBBLERS_RESOURCES "$program" "${quiet_server[@]}" --mic "$sample" \
    --speaker "$scratch/answer.wav" --video "$scratch/answer.mp4" >"$scratch/log" 2>&1 ||
    fail "the moved program could not answer: $(cat "$scratch/log")"
  [ -s "$scratch/answer.wav" ] && [ -s "$scratch/answer.mp4" ] || fail "no answer written"
  # Without its resources it says so, naming where it looked, instead of answering blind.
  mv "$tree/share/quibblers" "$scratch/resources"
  status=0
  env -u QUIBBLERS_RESOURCES "$program" "${quiet_server[@]}" --mic "$scratch/resources/samples/hello-quibblers.wav" \
    --speaker "$scratch/blind.wav" >"$scratch/log" 2>&1 || status=$?
  [ $status = 1 ] || fail "without resources: exit status $status, want 1"
  grep -qF "$tree/share/quibblers" "$scratch/log" || fail "without resources: $(cat "$scratch/log")"
  [ ! -e "$scratch/blind.wav" ] || fail "without resources it still wrote an answer"
  QUIBBLERS_RESOURCES=$scratch/resources "$program" "${quiet_server[@]}" \
    --mic "$scratch/resources/samples/hello-quibblers.wav" --speaker "$scratch/override.wav" >"$scratch/log" 2>&1 ||
    fail "with QUIBBLERS_RESOURCES: $(cat "$scratch/log")"
  ;;

manual)
  program=$dir/root/usr/bin/quibblers
  export QUIBBLERS_RESOURCES=$dir/root/usr/share/quibblers
  for name in quibblers quibblers-collection-server; do
    page=$dir/root/usr/share/man/man1/$name.1.gz
    MANWIDTH=80 man --warnings -l "$page" >"$scratch/$name.txt" 2>"$scratch/warnings" || fail "man -l $page"
    [ ! -s "$scratch/warnings" ] || fail "$name.1: $(cat "$scratch/warnings")"
    "$dir/root/usr/bin/$name" --version | grep -q "^$name [0-9]" || fail "$name --version does not name itself and its version"
  done
  # Defaults under the home folder read ~/..., not the home of whoever built the package.
  zcat "$dir/root/usr/share/man/man1/quibblers-collection-server.1.gz" | grep -qF -- 'TEXT=~/.local/share/' ||
    fail "quibblers-collection-server.1 does not give the default store as ~/.local/share/..."
  ! grep -qF -- "$HOME/" "$scratch"/*.txt || fail "a manual page names the builder's home folder $HOME"
  page=$scratch/quibblers.txt
  for section in SYNOPSIS OPTIONS WINDOW "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
    grep -q "^$section" "$page" || fail "quibblers.1 has no $section section"
  done
  grep -q '^ *In the window:' "$page" || fail "quibblers.1 does not list the window's keys"
  grep -qF 'tallyhive/<code>.sql' "$page" || fail "quibblers.1 does not say where the usage sessions are kept"
  options=$("$program" --help | grep -oE '^  (-[a-zA-Z],)?--[a-z-]+' | sed 's/.*--/--/')
  [ -n "$options" ] || fail "no options in --help"
  # The completion, loaded as bash-completion loads it, offers every option and no other.
  offered=$(bash -c 'source "$1"; COMP_WORDS=(quibblers --); COMP_CWORD=1; _quibblers
                     printf "%s\n" "${COMPREPLY[@]}"' _ "$dir/root/usr/share/bash-completion/completions/quibblers")
  for option in $options; do
    grep -qE -- "^ +(-[a-zA-Z],)?$option\b" "$page" || fail "quibblers.1 does not describe $option"
    grep -qx -- "$option" <<<"$offered" || fail "the completion does not offer $option"
  done
  [ "$(grep -c . <<<"$offered")" = "$(grep -c . <<<"$options")" ] || fail "the completion offers: $offered"
  # A value is completed from its placeholder: files, folders, the members of a set, or nothing.
  mkdir -p "$scratch/pick/folder" && touch "$scratch/pick/file"
  while read -r option want; do
    got=$(cd "$scratch/pick" && bash -c 'source "$1"; COMP_WORDS=(quibblers "$2" ""); COMP_CWORD=2
                                         _quibblers; printf "%s\n" "${COMPREPLY[@]}"' _ \
                                         "$dir/root/usr/share/bash-completion/completions/quibblers" "$option" |
          sort | paste -sd' ')
    [ "$got" = "$want" ] || fail "$option completes '$got', want '$want'"
  done <<'CASES'
--frames folder
--mic file folder
--character 0 1 2 3
--frames-per-cycle
CASES
  ;;

apt)
  if [ "$(id -u)" != 0 ]; then echo "not root: skipping the apt-get install test"; exit 0; fi
  if dpkg-query -W -f='${Status}' quibblers 2>/dev/null | grep -q installed; then
    echo "a quibblers package is installed already: leaving it alone, skipping"; exit 0
  fi
  apt=(apt-get -o DPkg::Lock::Timeout=600 -y -qq)
  cp "$(deb)" "$scratch/"
  DEBIAN_FRONTEND=noninteractive "${apt[@]}" install "$scratch/$(basename "$(deb)")" >"$scratch/log" 2>&1 ||
    fail "apt-get install: $(cat "$scratch/log")"
  files=$(dpkg-query -L quibblers)
  status=0
  (cd / && env -u QUIBBLERS_RESOURCES /usr/bin/quibblers "${quiet_server[@]}" \
     --mic /usr/share/quibblers/samples/hello-quibblers.wav \
     --speaker "$scratch/answer.wav" --video "$scratch/answer.mp4") >"$scratch/run" 2>&1 || status=$?
  DEBIAN_FRONTEND=noninteractive "${apt[@]}" purge quibblers >"$scratch/log" 2>&1 || fail "apt-get purge: $(cat "$scratch/log")"
  [ $status = 0 ] && [ -s "$scratch/answer.mp4" ] || fail "/usr/bin/quibblers: status $status: $(cat "$scratch/run")"
  for f in $files; do
    [ -d "$f" ] && continue
    [ ! -e "$f" ] || fail "left behind after purge: $f"
  done
  [ ! -e /usr/share/quibblers ] || fail "left behind after purge: /usr/share/quibblers"
  ! dpkg-query -W quibblers >/dev/null 2>&1 || fail "dpkg still lists quibblers after purge"
  ;;

piuparts)
  [ "$(id -u)" = 0 ] || fail "piuparts needs root"
  # The mirror this machine's apt uses; the base chroot is made once per build tree and week.
  mirror=${QB_DEBIAN_MIRROR:-$(apt-cache policy | sed -nE 's|^ *[0-9]+ (https?://[^ ]+) bookworm/main .*|\1|p' | head -n 1)}
  mirror=${mirror:-http://deb.debian.org/debian}
  base=$build/package-chroot/bookworm.tar.gz
  mkdir -p "$(dirname "$base")"
  find "$base" -mtime +7 -delete 2>/dev/null || true
  if [ -s "$base" ]; then chroot_args=(--basetgz "$base"); else chroot_args=(--save "$base"); fi
  piuparts -d bookworm -m "$mirror" --no-upgrade-test --tmpdir "$scratch" -l "$scratch/piuparts.log" \
    "${chroot_args[@]}" "$(deb)" >/dev/null 2>&1 ||
    { tail -n 60 "$scratch/piuparts.log" >&2; fail "piuparts (the end of its log above)"; }
  grep -q 'PASS: All tests' "$scratch/piuparts.log" || fail "piuparts did not report a pass"
  ;;

autopkgtest)
  [ "$(id -u)" = 0 ] || fail "autopkgtest's null runner installs the package: needs root"
  if dpkg-query -W -f='${Status}' quibblers 2>/dev/null | grep -q installed; then
    fail "a quibblers package is installed already; the null runner would replace it"
  fi
  status=0
  autopkgtest -o "$scratch/null" "$(deb)" "$source_dir/" -- null >"$scratch/null.log" 2>&1 || status=$?
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -qq purge quibblers >/dev/null 2>&1 || true
  [ $status = 0 ] || { tail -n 40 "$scratch/null.log" >&2; fail "autopkgtest (null runner): status $status"; }
  # Again in a clean chroot: the one piuparts made, unpacked afresh (autopkgtest's chroot runner
  # does not undo what the test installs).
  base=$build/package-chroot/bookworm.tar.gz
  if [ -s "$base" ]; then
    root=$scratch/chroot
    mkdir "$root"
    tar -xzf "$base" -C "$root"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    mount -t proc proc "$root/proc"
    trap 'umount "$root/proc"; rm -rf "$scratch"' EXIT
    autopkgtest -o "$scratch/chroot-output" "$(deb)" "$source_dir/" -- chroot "$root" >"$scratch/chroot.log" 2>&1 ||
      { tail -n 40 "$scratch/chroot.log" >&2; fail "autopkgtest (chroot runner, clean bookworm)"; }
  else
    echo "no bookworm chroot (the piuparts step makes it): autopkgtest ran with the null runner only"
  fi
  ;;

*) fail "unknown step '$step'" ;;
esac
echo "$step: ok"
