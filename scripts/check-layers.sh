#!/usr/bin/env bash
# The layers of the source tree, read from the #include lines: a file may
# include files of its own folder and of the folders below it, never of a
# folder above it, and no folders include each other round a loop. Prints the
# graph of includes between folders; exits 1 on an upward include, a loop,
# an include that names files of two folders, or a source folder that has no
# place below; 2 when it cannot read the tree.
#
#   scripts/check-layers.sh [source folder]      (ctest runs it as check_layers)
set -euo pipefail
export LC_ALL=C
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root" || exit 2

# Each folder's floor, bottom first. Folders on one floor stand beside each
# other: either may include the other, but not both.
floors='
common     0
RPC        1
plugins    1
cups       1
desktop    2
devserver  2
session    3
capture    4
requests   4
app        5
tests      6
scripts    6
'

mapfile -t sources < <(find . -path ./build -prune -o -path './build-*' -prune -o -path './obj-*' -prune -o -path ./.git -prune \
    -o -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cpp' \) -print |
    sed 's|^\./||' | sort)
[ "${#sources[@]}" -gt 0 ] || { echo "check-layers: no sources under $root" >&2; exit 2; }

{
    printf 'floor %s\n' $(printf '%s' "$floors" | awk 'NF == 2 {print $1 "=" $2}')
    printf 'file %s\n' "${sources[@]}"
    grep -H '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "${sources[@]}" || true
} | awk '
function folder(path) { sub(/\/.*/, "", path); return path }
function base(path) { sub(/.*\//, "", path); return path }
function dir(path) { if (path !~ /\//) return "."; sub(/\/[^\/]*$/, "", path); return path }
$1 == "floor" { split($2, kv, "="); floor[kv[1]] = kv[2]; next }
$1 == "file" {
    f = $2; top = folder(f)
    if (f !~ /\//) next
    if (!(top in floor)) { if (!(top in homeless)) { homeless[top] = f }; next }
    b = base(f)
    if (!((b, top) in seen)) { seen[b, top] = 1; owners[b] = owners[b] " " top }
    exists[f] = 1
    next
}
{
    # path:#include "name"
    colon = index($0, ":"); from = substr($0, 1, colon - 1); line = substr($0, colon + 1)
    if (from !~ /\//) next
    name = line; sub(/^[^"]*"/, "", name); sub(/".*/, "", name)
    a = folder(from)
    if (!(a in floor)) next
    # Beside the including file first, as the compiler looks.
    near = dir(from) "/" name
    while (near ~ /\/\.\.\//) sub(/[^\/]*\/\.\.\//, "", near)
    if (near in exists) { b = folder(near) }
    else {
        n = split(owners[base(name)], list, " ")
        if (n == 0) next # generated or from the system
        if (n > 1) {
            # A folder that has the file itself wins.
            b = ""
            for (i = 1; i <= n; i++) if (list[i] == a) b = a
            if (b == "") { ambiguous[from " includes " name " (in:" owners[base(name)] ")"] = 1; next }
        } else b = list[1]
    }
    if (a == b) next
    if (!((a, b) in edge)) { edge[a, b] = from " includes " name; edges[++nedges] = a SUBSEP b }
    count[a, b]++
}
END {
    bad = 0
    for (top in homeless) { print "no floor for the folder " top " (" homeless[top] "): add it to scripts/check-layers.sh"; bad = 1 }
    for (x in ambiguous) { print "ambiguous include: " x; bad = 1 }
    for (i = 1; i <= nedges; i++) {
        split(edges[i], ab, SUBSEP); a = ab[1]; b = ab[2]
        printf "%-10s -> %-10s %3d  e.g. %s\n", a, b, count[a, b], edge[a, b]
        reach[a, b] = 1
        if (floor[b] > floor[a]) { up[++nup] = a " -> " b ": " edge[a, b]; bad = 1 }
    }
    for (i = 1; i <= nup; i++) print "UPWARD: " up[i]
    # Loops: a folder that reaches itself.
    for (k in floor) for (a in floor) if ((a, k) in reach) for (b in floor) if ((k, b) in reach) reach[a, b] = 1
    for (a in floor) if ((a, a) in reach) { print "LOOP through " a; bad = 1 }
    if (!bad) print "layers: no upward include, no loop"
    exit bad
}'
