#!/usr/bin/env bash
# Fails when a folder includes a folder above it in the layer order that README.md states on
# its line "Layers, bottom to top: `a` < `b` < ...". tests/ and tools/ stand above every layer;
# a folder of the tree that is not in the order is an error too.
set -euo pipefail
cd "$(dirname "$0")/.."

order_line=$(grep -m1 '^Layers, bottom to top:' README.md || true)
if [ -z "$order_line" ]; then
    echo "check-layers: README.md has no line 'Layers, bottom to top: ...'" >&2
    exit 1
fi
mapfile -t layers < <(printf '%s\n' "$order_line" | grep -o '`[^`]*`' | tr -d '`')
declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done
top=${#layers[@]}
rank[tests]=$top
rank[tools]=$top

status=0
while IFS= read -r file; do
    folder=${file%%/*}
    own=${rank[$folder]-}
    if [ -z "$own" ]; then
        echo "check-layers: $file: folder $folder/ is not in the layer order of README.md" >&2
        status=1
        continue
    fi
    while IFS=: read -r line text; do
        target=$(printf '%s' "$text" | sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"/]*\)\/.*/\1/p')
        [ -n "$target" ] || continue
        theirs=${rank[$target]-}
        if [ -z "$theirs" ]; then
            echo "$file:$line: includes from $target/, which is not in the layer order" >&2
            status=1
        elif [ "$theirs" -gt "$own" ]; then
            echo "$file:$line: $folder/ includes $target/, a layer above it" >&2
            status=1
        fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(git ls-files -- '*.cpp' '*.h' '*.c' | grep '/')

if [ "$status" -eq 0 ]; then
    echo "check-layers: every include points down (${layers[*]})"
fi
exit "$status"
