#!/bin/bash
# The .deb that cpack makes of this build, unpacked into a temporary root
# (dpkg -x): its files are in place (the stub, the slideshow screen saver
# and the uninstaller those of the win32 build), its glimmer-pack runs the
# README's example (a slideshow from the Lago sample's package file, which
# names no program) with no --stub and no other glimmer-pack along PATH,
# builds the very package that the build tree's tool builds with the win32
# stub, still finds its stub when the tree is moved, its manual page shows
# with man -l and its completion offers the commands. lintian finds nothing to say of
# it, and a second cpack gives the very same bytes.
#   deb_test.sh NATIVE_BUILD_DIR SOURCE_DIR
# Exits 77 (skipped) when the stub, the programs shipped beside it or the
# samples' programs, pictures and sounds are not built.
set -eu
build=$1 source=$2
cached() { sed -n "s/^$1:FILEPATH=//p" "$build/CMakeCache.txt"; }
stub=$(cached GLIMMER_STUB_EXE) saver=$(cached GLIMMER_SLIDESHOW_SCR) uninstaller=$(cached GLIMMER_UNINSTALLER_EXE)
win32=$(dirname "$stub")
for needed in "$stub" "$saver" "$uninstaller" "$win32/lago/lago.wav" "$win32/aurora.scr" "$win32/aurora-chime.wav"; do
    if [ ! -f "$needed" ]; then
        echo "skipped: $needed is not built (cmake --preset win32 && cmake --build --preset win32)"
        exit 77
    fi
done
for tool in cpack dpkg openssl man osslsigncode lintian; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

export SOURCE_DATE_EPOCH=1700000000
for copy in deb deb-again; do
    cpack --config "$build/CPackConfig.cmake" -B "$work/$copy" >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log"; fail "cpack did not make the package"; }
done
debs=("$work"/deb/glimmer-pack_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single .deb in $work/deb"
cmp "${debs[0]}" "$work/deb-again/$(basename "${debs[0]}")" || fail "two cpack runs give different packages"
# Errors and warnings; lintian's note that it runs as root is not about the package.
lintian "${debs[0]}" 2>"$work/lintian.err" | tee "$work/lintian.log"
[ ! -s "$work/lintian.log" ] || fail "lintian finds faults in the package"
dpkg-deb --field "${debs[0]}" Depends | grep -q libtomlplusplus || fail "the package does not depend on the toml++ library"
version=$(dpkg-deb --field "${debs[0]}" Version)
root=$work/root
dpkg -x "${debs[0]}" "$root"
for file in usr/bin/glimmer-pack usr/share/glimmer-pack/stub.exe usr/share/glimmer-pack/slideshow.scr \
            usr/share/glimmer-pack/uninstal.exe usr/share/man/man1/glimmer-pack.1.gz \
            usr/share/bash-completion/completions/glimmer-pack; do
    [ -f "$root/$file" ] || fail "$file is not in the package"
done
cmp -s "$root/usr/share/glimmer-pack/stub.exe" "$stub" || fail "the packaged stub is not $stub"
cmp -s "$root/usr/share/glimmer-pack/slideshow.scr" "$saver" || fail "the packaged screen saver is not $saver"
cmp -s "$root/usr/share/glimmer-pack/uninstal.exe" "$uninstaller" || fail "the packaged uninstaller is not $uninstaller"
[ "$("$root/usr/bin/glimmer-pack" --version)" = "glimmer-pack $version" ] ||
    fail "the package's version $version is not the one glimmer-pack --version prints"

# The README's example, between its markers, run in a folder that offers the
# paths it names (the win32 build's programs, the sample's files) and a
# throw-away certificate, with only the unpacked glimmer-pack along PATH.
example=$(sed -n '/<!-- example: begin -->/,/<!-- example: end -->/p' "$source/README.md" |
          grep '^    ' | sed 's/^    //')
[ -n "$example" ] || fail "no example between the README's markers"
run=$work/run
mkdir -p "$run/build"
ln -s "$(dirname "$win32")" "$run/build/win32"
ln -s "$source/samples" "$run/samples"
(cd "$run" && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Autore di Prova" \
     -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem >/dev/null 2>&1) ||
    fail "openssl could not make a certificate"
export PATH="$root/usr/bin:/usr/bin:/bin"
[ "$(command -v glimmer-pack)" = "$root/usr/bin/glimmer-pack" ] || fail "another glimmer-pack comes first along PATH"
(cd "$run" && bash -e -c "$example") >"$work/example.log" 2>&1 ||
    { cat "$work/example.log"; fail "the README's example failed"; }
grep -q 'signed (Authenticode) by "CN = Autore di Prova"' "$work/example.log" ||
    { cat "$work/example.log"; fail "the example's verify does not name the signer"; }

# Without --stub, the installed tool builds what the build tree's tool
# builds with the win32 stub; and again once its whole tree is moved.
inputs=(--title "Aurora Boreale" --saver "$win32/aurora.scr" --data "$source/samples/aurora/aurora.dat"
        --uninstaller "$uninstaller" --media "$win32/aurora-chime.wav")
"$build/bin/glimmer-pack" build -o "$work/reference.exe" --stub "$stub" "${inputs[@]}"
glimmer-pack build -o "$work/installed.exe" "${inputs[@]}"
cmp "$work/reference.exe" "$work/installed.exe" || fail "the installed tool's package differs"
mkdir "$work/moved"
mv "$root/usr" "$work/moved/tree"
"$work/moved/tree/bin/glimmer-pack" build -o "$work/moved.exe" "${inputs[@]}"
cmp "$work/reference.exe" "$work/moved.exe" || fail "the moved tool's package differs"
mv "$work/moved/tree" "$root/usr"

MANWIDTH=80 man -l "$root/usr/share/man/man1/glimmer-pack.1.gz" 2>&1 >"$work/man.txt" | tee "$work/man.err"
[ ! -s "$work/man.err" ] || fail "man -l warns"
grep -q '^SYNOPSIS' "$work/man.txt" && grep -q 'glimmer-pack sign -o OUT.exe' "$work/man.txt" ||
    fail "man -l does not show the page"

offered=$(bash -c 'source "$1"; COMP_WORDS=(glimmer-pack ""); COMP_CWORD=1; _glimmer_pack; echo "${COMPREPLY[*]}"' \
          _ "$root/usr/share/bash-completion/completions/glimmer-pack")
for command in build list extract verify sign; do
    [[ " $offered " == *" $command "* ]] || fail "completion does not offer $command (offers: $offered)"
done
echo "$(basename "${debs[0]}"): installed tree sound, README example run, man page shown, completion offers: $offered"
