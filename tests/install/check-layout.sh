#!/usr/bin/env bash
# Checks what a user gets: the tree of `cmake --install`, or the Debian
# package that cpack builds, unpacked. Either way the tree must hold exactly
# the program, the compressed manual page and the documentation, and the
# program must run the installed examples from an unrelated directory.
# Usage:
#   check-layout.sh install CMAKE BUILD_DIR SOURCE_DIR
#   check-layout.sh package CPACK BUILD_DIR SOURCE_DIR DEBIAN_VERSION
set -uo pipefail
shopt -s nullglob
mode=$1 tool=$2 build=$3 source=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
need() { command -v "$1" >/dev/null || { echo "FAIL: $1 is missing (tools/install-deps installs it)"; exit 1; }; }

# The files below the prefix, one per line, sorted.
expected_files() {
    printf '%s\n' bin/tolva share/man/man1/tolva.1.gz \
        share/doc/tolva/README.md share/doc/tolva/language.md share/doc/tolva/copyright
    [[ $mode == package ]] && echo share/doc/tolva/changelog.Debian.gz
    (cd "$source" && for f in examples/*.tv examples/*.in; do echo "share/doc/tolva/$f"; done)
    (cd "$source" && find editors -type f 2>/dev/null | sed 's|^|share/doc/tolva/|')
}

check_tree() {
    local prefix=$1
    diff -u --label expected --label installed \
        <(expected_files | sort) <(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort) ||
        fail "the installed files differ from the expected list"
    cmp -s <(zcat "$prefix/share/man/man1/tolva.1.gz") "$source/docs/tolva.1" ||
        fail "the installed manual page is not docs/tolva.1 compressed"
    for f in README.md docs/language.md packaging/copyright; do
        cmp -s "$prefix/share/doc/tolva/$(basename "$f")" "$source/$f" || fail "installed $f differs"
    done
    # Run every example with its expected output from an unrelated directory,
    # through the installed binary and the installed copy of the program.
    mkdir -p "$work/elsewhere"
    local program name input
    for program in "$source"/examples/*.tv; do
        name=$(basename "$program" .tv)
        input=/dev/null
        [[ -f $source/examples/$name.in ]] && input=$prefix/share/doc/tolva/examples/$name.in
        (cd "$work/elsewhere" && "$prefix/bin/tolva" "$prefix/share/doc/tolva/examples/$name.tv" <"$input") \
            >"$work/$name.out" 2>&1 || fail "examples/$name.tv failed when installed"
        cmp -s "$work/$name.out" "$source/examples/$name.out" ||
            fail "examples/$name.tv prints something else when installed"
    done
}

case $mode in
install)
    "$tool" --install "$build" --prefix "$work/prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }
    check_tree "$work/prefix"
    ;;
package)
    version=$5
    need dpkg-deb; need dpkg-shlibdeps; need file
    "$tool" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
    deb=$work/out/tolva_${version}-1_$(dpkg --print-architecture).deb
    [[ -f $deb ]] || { ls "$work/out"; echo "FAIL: no package named $(basename "$deb")"; exit 1; }

    field() { dpkg-deb -f "$deb" "$1"; }
    [[ $(field Package) == tolva ]] || fail "Package: $(field Package)"
    [[ $(field Version) == "$version-1" ]] || fail "Version: $(field Version)"
    [[ $(field Architecture) == "$(dpkg --print-architecture)" ]] || fail "Architecture: $(field Architecture)"
    [[ $(field Section) == interpreters ]] || fail "Section: $(field Section)"
    [[ $(field Priority) == optional ]] || fail "Priority: $(field Priority)"
    [[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
    # Found by dpkg-shlibdeps from the binary, with minimum versions (the
    # C++ runtime is linked in).
    libraries=(libc6)
    ldd "$build/tolva" | grep -q 'libedit\.so' && libraries+=(libedit2)
    for library in "${libraries[@]}"; do
        [[ ", $(field Depends)" == *", $library (>= "[0-9]* ]] || fail "Depends lacks $library: $(field Depends)"
    done
    description=$(field Description)
    [[ $(head -n1 <<<"$description") == "interpreter for a small stack-oriented language" ]] ||
        fail "Description synopsis: $(head -n1 <<<"$description")"
    (($(wc -l <<<"$description") > 3)) || fail "Description has no extended part"

    listing=$(dpkg-deb -c "$deb")
    grep -v ' root/root ' <<<"$listing" && fail "entries not owned by root"
    grep -q '^-rwxr-xr-x .* \./usr/bin/tolva$' <<<"$listing" || fail "/usr/bin/tolva is not an executable 0755"
    grep '^-' <<<"$listing" | grep -v '\./usr/bin/tolva$' | grep -v '^-rw-r--r-- ' && fail "data files not 0644"

    dpkg-deb -x "$deb" "$work/root" || { echo "FAIL: dpkg-deb -x"; exit 1; }
    [[ $(zcat "$work/root/usr/share/doc/tolva/changelog.Debian.gz" | head -n1) == "tolva ($version-1) "* ]] ||
        fail "changelog.Debian.gz does not start with this version"
    file -b "$work/root/usr/bin/tolva" | grep -q ', stripped' || fail "the packaged binary is not stripped"
    check_tree "$work/root/usr"
    ;;
*)
    echo "usage: $0 install|package ..."; exit 2
    ;;
esac
exit $failed
