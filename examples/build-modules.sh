#!/bin/sh
# Builds the three modules of the code set in the current folder with the
# game's compiler and assembler for Linux, q3lcc and q3asm on the PATH, as
# the game's own .bat files do on Windows: each module in a vm folder of its
# own, from where its command file's entries resolve, into the mod's vm
# folder that the command file names. It stops at the first file that does
# not compile. (forkit writes every file it copies with CR LF line ends, so
# a script for the shell is run from here, not copied along.)
#   cd ~/mods/mymod && sh ~/forkit/examples/build-modules.sh
set -e
for module in game cgame ui; do
    case $module in
    game) defines= ;;
    cgame) defines=-DCGAME ;;
    ui) defines=-DMISSIONPACK ;;
    esac
    mkdir -p "$module/vm"
    cd "$module/vm"
    # The command file's entries, after its -o line: a name with a folder is
    # an assembly file that came with the module, else a source is compiled
    # from the module's folder, or from game's where the module has none.
    for entry in $(tail -n +2 "../$module.q3asm" | tr -d '\r'); do
        case $entry in */*) continue ;; esac
        source=../$entry.c
        [ -f "$source" ] || source=../../game/$entry.c
        q3lcc -DQ3_VM $defines -S -Wf-target=bytecode -Wf-g \
            -I../../cgame -I../../game -I../../ui -I. "$source"
    done
    q3asm -f "../$module"
    cd ../..
done
