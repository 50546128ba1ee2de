#!/usr/bin/env bash
# Checks that the layers of the source tree point one way: app -> ui -> core, and inside core
# run -> filepass -> squeeze, figures. A file may include headers of its own folder and of
# lower layers only, never of a higher layer or of a sibling (the Qt window and the Win32
# window, the squeeze and the figures, the POSIX pass and the Windows pass know nothing of each
# other). Nothing in core/ includes a window toolkit's header. Prints every include that breaks
# the rule and exits 1 if there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

# The layer of a folder: its rank, and the library it belongs to. Deeper folders first.
layer_of() {
    case "$1" in
        core/squeeze*) echo "1 squeeze" ;;
        core/figures*) echo "1 figures" ;;
        core/filepass/posix*) echo "2 filepass-posix" ;;
        core/filepass/win32*) echo "2 filepass-win32" ;;
        core/filepass*) echo "2 filepass" ;;
        core/run*) echo "3 run" ;;
        ui/qt*) echo "5 qt" ;;
        ui/win32*) echo "5 win32" ;;
        ui*) echo "4 design" ;;
        app*) echo "6 app" ;;
        *) echo "" ;;
    esac
}

# Every header of the tree by its file name, since includes name headers without their
# folder: the folders that hold a header of that name (both windows have a form1.h).
declare -A homes
while IFS= read -r header; do
    name=${header##*/}
    homes[$name]="${homes[$name]:-} $(dirname "$header")"
done < <(find core ui app -name '*.h' | sort)

broken=0
while IFS= read -r source; do
    from=$(dirname "$source")
    read -r from_rank from_lib <<<"$(layer_of "$from")"
    while IFS= read -r line; do
        number=${line%%:*}
        text=${line#*:}
        if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
            name=${BASH_REMATCH[1]##*/}
            # A header beside the file is the one it gets; one built beside the sources
            # (resources, generated code) is no layer's.
            [ -f "$from/$name" ] && continue
            for to in ${homes[$name]:-}; do
                read -r to_rank to_lib <<<"$(layer_of "$to")"
                # filepass/posix and filepass/win32 build on the folder above them.
                [[ $from_lib == filepass-* && $to_lib == filepass ]] && continue
                [ "$to_lib" = "$from_lib" ] && continue
                if [ "$to_rank" -ge "$from_rank" ]; then
                    echo "$source:$number: includes $to/$name, which is not below it ($from_lib may not use $to_lib)"
                    broken=1
                fi
            done
        elif [[ $from == core* && $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(Q[A-Za-z]*|commctrl\.h|commdlg\.h|shellapi\.h|windowsx\.h|gtk/|X11/) ]]; then
            echo "$source:$number: the engine includes a window toolkit's header: ${text#*include}"
            broken=1
        fi
    done < <(grep -n '#[[:space:]]*include' "$source" || true)
done < <(find core ui app -name '*.h' -o -name '*.cpp' -o -name '*.rc' | sort)

if [ "$broken" -ne 0 ]; then
    echo "layers: some includes point up a layer or across to a sibling (app -> ui -> core; run -> filepass -> squeeze, figures)"
    exit 1
fi
echo "layers: every include points down (app -> ui -> core; run -> filepass -> squeeze, figures)"
