#!/usr/bin/env bash
# What a user gets, the tree of `cmake --install` or the package cpack builds, unpacked, must hold exactly the
# program, the compressed manual page and the documentation, and run the installed examples from elsewhere.
set -uo pipefail
shopt -s nullglob
mode=$1 tool=$2 build=$3 source=$4 version=${5:-} failed=0 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; failed=1; }
stop() { echo "FAIL: $*"; exit 1; }
[[ $mode == @(install|package) ]] || { echo "usage: $0 install CMAKE|package CPACK BUILD_DIR SOURCE_DIR [DEBIAN_VERSION]"; exit 2; }

# check_tree PREFIX [FILE...]: the tree below PREFIX, which also holds the FILEs.
check_tree() {
    local prefix=$1 doc=$1/share/doc/tolva f file name input
    diff -u --label expected --label installed <(cd "$source" && {  # a subshell: the cd stays in it
        printf '%s\n' bin/tolva bin/tolva-lsp share/man/man1/tolva.1.gz "${@:2}"
        printf 'share/doc/tolva/%s\n' README.md language.md tutorial.md copyright examples/*.tv examples/*.in
        find editors -type f 2>/dev/null | sed 's|^|share/doc/tolva/|'; } | sort) \
        <(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort) || fail "the files differ from the expected list"
    cmp -s <(zcat "$prefix/share/man/man1/tolva.1.gz") "$source/docs/tolva.1" ||
        fail "the installed manual page is not docs/tolva.1 compressed"
    for f in README.md docs/language.md docs/tutorial.md packaging/copyright; do
        cmp -s "$doc/${f##*/}" "$source/$f" || fail "installed $f differs"
    done
    # Every example and its expected output, through the installed binary and copies, from an unrelated directory.
    mkdir "$work/elsewhere" && cd "$work/elsewhere" || stop "mkdir"
    for file in "$source"/examples/*.tv; do
        name=$(basename "$file" .tv)
        [[ -f $source/examples/$name.in ]] && input=$doc/examples/$name.in || input=/dev/null
        "$prefix/bin/tolva" "$doc/examples/$name.tv" <"$input" >"$work/$name.out" 2>&1 ||
            fail "examples/$name.tv failed when installed"
        cmp -s "$work/$name.out" "$source/examples/$name.out" || fail "examples/$name.tv prints something else installed"
    done
}

if [[ $mode == install ]]; then
    "$tool" --install "$build" --prefix "$work/prefix" >/dev/null || stop "cmake --install"
    check_tree "$work/prefix"
    exit $failed
fi
type -P dpkg-deb dpkg-shlibdeps file >/dev/null || stop "dpkg-deb, dpkg-shlibdeps or file is missing (tools/install-deps)"
"$tool" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/log" 2>&1 || { cat "$work/log"; stop cpack; }
arch=$(dpkg --print-architecture) deb=$work/out/tolva_$version-1_$arch.deb
[[ -f $deb ]] || { ls "$work/out"; stop "no package named ${deb##*/}"; }
# Whole lines of the control file. dpkg-shlibdeps finds the libraries the binary links and gives them minimum
# versions (the C++ runtime is linked in); the line editor, loaded only on a terminal, is recommended.
control=$(dpkg-deb -f "$deb")
edit=$(grep -q 'libedit\.so' "$build/tolva" && echo "Recommends: libedit2" || echo "Package: tolva")
ldd "$build/tolva" | grep 'libedit\.so' && fail "the binary links the line editor instead of loading it on a terminal"
for want in "Package: tolva" "Version: ${version//./\\.}-1" "Architecture: $arch" "Section: interpreters" \
    "Priority: optional" "Maintainer: [^<]+ <[^@>]+@[^>]+>" "Depends: (.*, )?libc6 \(>= [0-9].*" \
    "$edit" "Description: interpreter for a small stack-oriented language"; do
    grep -qxE "$want" <<<"$control" || fail "'$(grep "^${want%%:*}:" <<<"$control")' does not match '$want'"
done
(($(dpkg-deb -f "$deb" Description | wc -l) > 3)) || fail "Description has no extended part"
listing=$(dpkg-deb -c "$deb")
grep -v ' root/root ' <<<"$listing" && fail "entries not owned by root"
for program in tolva tolva-lsp; do
    grep -q "^-rwxr-xr-x .* \./usr/bin/$program\$" <<<"$listing" || fail "/usr/bin/$program is not an executable 0755"
done
grep '^-' <<<"$listing" | grep -vE '\./usr/bin/tolva(-lsp)?$' | grep -v '^-rw-r--r-- ' && fail "data files not 0644"
dpkg-deb -x "$deb" "$work/root" || stop "dpkg-deb -x"
[[ $(zcat "$work/root/usr/share/doc/tolva/changelog.Debian.gz" | head -n1) == "tolva ($version-1) "* ]] ||
    fail "changelog.Debian.gz does not start with this version"
file -b "$work/root/usr/bin/tolva" | grep -q ', stripped' || fail "the packaged binary is not stripped"
check_tree "$work/root/usr" share/doc/tolva/changelog.Debian.gz
exit $failed
