#!/usr/bin/env bash
# Makes the small Windows program files under tests/data/app that the version reader's tests read. Run once by hand
# (needs binutils-mingw-w64-x86-64); the results are committed, so the build never needs the cross tools.
#   tools/make-version-fixtures.sh [output folder]
set -euo pipefail

OUT=${1:-"$(cd "$(dirname "$0")/.." && pwd)/tests/data/app"}
WINDRES=x86_64-w64-mingw32-windres
LD=x86_64-w64-mingw32-ld
mkdir -p "$OUT"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# A version resource with the translation 0409/04B0. $1 = file name, $2 = whether to write the Comments entry,
# $3 = the translation the Translation table announces (the strings always sit under 040904B0).
write_rc() {
    local comments=""
    if [ "$2" = yes ]; then
        comments='            VALUE "Comments", "Fixture comments"'
    fi
    cat >"$WORK/$1" <<RC
1 VERSIONINFO
FILEVERSION 3,14,15,92
PRODUCTVERSION 3,14,0,0
FILEFLAGSMASK 0x3f
FILEFLAGS 0x0
FILEOS 0x40004
FILETYPE 0x1
FILESUBTYPE 0x0
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        BLOCK "040904B0"
        BEGIN
            VALUE "CompanyName", "Fixture Company"
            VALUE "FileDescription", "Fixture description"
            VALUE "FileVersion", "3.14.15.92"
            VALUE "InternalName", "fixture"
            VALUE "LegalCopyright", "Copyright \\251 2026 Fixture Company"
            VALUE "LegalTrademarks", "Fixture\\231 is a trademark"
            VALUE "OriginalFilename", "fixture.exe"
            VALUE "ProductName", "Fixture Product"
            VALUE "ProductVersion", "3.14"
$comments
            VALUE "PrivateBuild", "private build 7"
            VALUE "SpecialBuild", "special build 9"
        END
    END
    BLOCK "VarFileInfo"
    BEGIN
        VALUE "Translation", $3
    END
END
RC
}

# Links resource objects into a program file with no code: $1 = output, $2 = ld emulation, rest = objects. Our own
# linker script keeps the files tiny and works for the 32-bit emulation, whose stock script Debian does not ship.
cat >"$WORK/pe.x" <<'LDS'
SECTIONS
{
  . = __image_base__ + __section_alignment__;
  .rsrc BLOCK(__section_alignment__) : { *(.rsrc) *(SORT(.rsrc$*)) }
  .data BLOCK(__section_alignment__) : { *(.data) }
  /DISCARD/ : { *(.note*) *(.text) *(.bss) }
}
LDS
link_pe() {
    local out=$1 emulation=$2
    shift 2
    $LD -m "$emulation" -T "$WORK/pe.x" --subsystem windows -e 0 -s --file-alignment 512 --section-alignment 4096 \
        -o "$out" "$@"
}

compile_rc() { # $1 = .rc, $2 = object, $3 = windres target
    $WINDRES --preprocessor=cpp --codepage 1252 -F "$3" -i "$WORK/$1" -o "$WORK/$2"
}

write_rc full.rc yes "0x409, 1200"
write_rc nocomments.rc no "0x409, 1200"
write_rc othertranslation.rc yes "0x407, 1252"
printf '1 RCDATA\nBEGIN\n    "not a version resource\\0"\nEND\n' >"$WORK/rcdata.rc"

compile_rc full.rc full.o pe-x86-64
compile_rc full.rc full32.o pe-i386
compile_rc nocomments.rc nocomments.o pe-x86-64
compile_rc othertranslation.rc othertranslation.o pe-x86-64
compile_rc rcdata.rc rcdata.o pe-x86-64

link_pe "$OUT/full.exe" i386pep "$WORK/full.o"
link_pe "$OUT/full32.exe" i386pe "$WORK/full32.o"
link_pe "$OUT/nocomments.exe" i386pep "$WORK/nocomments.o"
link_pe "$OUT/othertranslation.exe" i386pep "$WORK/othertranslation.o"
link_pe "$OUT/noversion.exe" i386pep "$WORK/rcdata.o"

# A program file with no resources at all: one empty data section.
printf '\0\0\0\0' >"$WORK/empty.bin"
x86_64-w64-mingw32-objcopy -I binary -O pe-x86-64 -B i386:x86-64 "$WORK/empty.bin" "$WORK/empty.o"
link_pe "$OUT/noresources.exe" i386pep "$WORK/empty.o"

printf 'Just some text, no program here.\n' >"$OUT/plain.txt"
ls -l "$OUT"
