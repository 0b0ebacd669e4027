#!/usr/bin/env bash
# Checks the program's layering from its #include lines: each source folder may include
# only folders of a lower layer (window -> export -> core -> audio, file names), no file outside the
# window's folder and the entry point includes the window's header, and the session core
# includes no Qt header beyond Qt Core.
#
#   check_includes.sh SRC_DIR QTCORE_INCLUDE_DIR
set -uo pipefail

src="$1"
qtcore="$2"

# A folder's layer; an include must go to a strictly lower one (or stay in its folder).
declare -A layer=([names]=0 [audio]=0 [core]=1 [voices]=1 [registry]=1 [export]=2 [browser]=2
    [shell]=3 [app]=4)

status=0
fail() {
    echo "$1"
    status=1
}

while IFS= read -r file; do
    rel="${file#"$src"/}"
    from="${rel%%/*}"
    if [[ -z "${layer[$from]+set}" ]]; then
        fail "$rel: the folder '$from' has no layer"
        continue
    fi
    while IFS= read -r target; do
        to="${target%%/*}"
        [[ "$to" == "$target" || "$to" == "$from" ]] && continue
        if [[ -z "${layer[$to]+set}" ]]; then
            fail "$rel includes \"$target\": the folder '$to' has no layer"
        elif ((layer[$to] >= layer[$from])); then
            fail "$rel includes \"$target\": $from may not depend on $to"
        fi
        if [[ "$target" == shell/form1.h && "$from" != shell && "$from" != app ]]; then
            fail "$rel includes the window's header"
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
    if [[ "$from" == core ]]; then
        while IFS= read -r header; do
            [[ -e "$qtcore/$header" ]] || fail "$rel includes <$header>, which is not Qt Core"
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<\(Q[^>]*\)>.*/\1/p' "$file")
    fi
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

((status == 0)) && echo "layering holds"
exit "$status"
