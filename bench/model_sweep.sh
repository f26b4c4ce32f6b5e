#!/bin/sh
# Every model under a folder (default: Debian's assimp-testmodels) whose extension Assimp
# reads, through the viewer headless for one frame, each with a time limit and a memory
# cap. Prints one line per model (exit status, path) and the counts of exit statuses 0, 2
# and 3 and of crashes (killed by a signal) and hangs (the time limit reached).
#   bench/model_sweep.sh VIEWER [FOLDER] [SECONDS] > sweep.txt
set -u
viewer=${1:?usage: model_sweep.sh VIEWER [FOLDER] [SECONDS]}
folder=${2:-/usr/share/assimp/models}
seconds=${3:-60}
extensions=$(assimp listext 2>/dev/null | tr -d '*' | tr ';' ' ')
[ -n "$extensions" ] || extensions=".3d .3ds .ac .ase .b3d .blend .bvh .dae .dxf .fbx .glb .gltf .irr .lwo .md2 .md3 .md5mesh .ms3d .nff .obj .off .ply .smd .stl .x .x3d .xgl"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
ok=0 refused=0 nothing=0 crashed=0 hung=0 other=0
find "$folder" -type f | sort > "$scratch/files"
while IFS= read -r model; do
    lower=$(printf '%s' "$model" | tr 'A-Z' 'a-z')
    known=no
    for e in $extensions; do case "$lower" in *"$e") known=yes ;; esac; done
    [ "$known" = yes ] || continue
    status=$(cd "$scratch" && (ulimit -v 4194304; timeout -s KILL "$seconds" "$viewer" --frames 1 \
        --screenshot "$scratch/shot.png" "$model" >/dev/null 2>&1 </dev/null); echo $?)
    case $status in
        0) ok=$((ok + 1)) ;;
        2) refused=$((refused + 1)) ;;
        3) nothing=$((nothing + 1)) ;;
        137) hung=$((hung + 1)) ;;
        1[2-9][0-9]) crashed=$((crashed + 1)) ;;
        *) other=$((other + 1)) ;;
    esac
    echo "$status $model"
done < "$scratch/files"
echo "exit 0: $ok, exit 2: $refused, exit 3: $nothing, crashed: $crashed, hung: $hung, other: $other"
