#!/usr/bin/env bash
# The Debian package as a user meets it. Usage: package-test.sh STEP BUILD_DIR
#   build      scripts/package on BUILD_DIR into BUILD_DIR/package-test/ (the other steps' input)
#   validate   lintian (no errors or warnings), desktop-file-validate, appstreamcli --no-net
#   relocated  the unpacked tree, moved elsewhere, answers the bundled sample with no source tree
#              in reach; it fails clearly without its resources; QUIBBLERS_RESOURCES overrides
#   manual     the manual page renders and covers every option; the completion offers them all
#   apt        as root: apt-get install, run /usr/bin/quibblers, purge, nothing left behind
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
  "$source_dir/scripts/package" --build-dir "$build" --out "$dir" >/dev/null
  [ -n "$(deb)" ] || fail "scripts/package made no quibblers_*.deb"
  dpkg-deb -x "$(deb)" "$dir/root"
  ;;

validate)
  lintian --fail-on error,warning "$(deb)" 2>&1 | grep -v 'running with root privileges' || true
  lintian --fail-on error,warning "$(deb)" >/dev/null 2>&1 || fail "lintian reports errors or warnings (above)"
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
  done
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

*) fail "unknown step '$step'" ;;
esac
echo "$step: ok"
