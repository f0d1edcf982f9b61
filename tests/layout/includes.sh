#!/bin/bash
# Includes run one way, down the floors of src/: a folder includes only folders on a lower
# floor, never one beside it or above it, so no two folders can include each other in a
# circle and platform/ includes no other folder at all.
# Usage: includes.sh SRC_DIR; prints each folder's includes of other folders.
set -euo pipefail
src=${1:?usage: includes.sh SRC_DIR}

declare -A floor=(
    [platform]=0
    [files]=1 [ui]=1
    [browser]=2 [library]=2
    [playlist]=3 [playback]=3 [fileops]=3
    [audition]=4
    [app]=5
)

failed=0
for dir in "$src"/*/; do
    folder=$(basename "$dir")
    if [[ -z ${floor[$folder]+set} ]]; then
        echo "src/$folder/ has no floor: give it one in $0"
        failed=1
    fi
done

# "folder included-folder file:line" for every quoted include that names a folder of src/.
edges=$(cd "$src" && grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' . |
    sed -E 's|^\./([^/]+)/([^:]*:[0-9]+):[^"]*"([^"/]+)/.*|\1 \3 \1/\2|' || true)

while read -r from to where; do
    [[ -n $from && $from != "$to" ]] || continue
    # Not a folder of src/ (a library's own path), or one without a floor, reported above.
    [[ -n ${floor[$to]+set} && -n ${floor[$from]+set} ]] || continue
    if ((floor[$to] >= floor[$from])); then
        if ((floor[$to] == floor[$from])); then how="beside it"; else how="above it"; fi
        echo "$where: $from/ includes $to/, which is $how"
        failed=1
    fi
done <<<"$edges"

echo "Folders each folder includes:"
awk '$1 != $2 { print $1 " -> " $2 }' <<<"$edges" | sort | uniq -c
exit $failed
