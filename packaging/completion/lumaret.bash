# bash completion for the Lumaret programs: lumaret-viewer, srxconvert and srxdump.
#
# Options are read from each program's own --help (bash-completion's _parse_help), so
# they are always the ones the installed program takes; files are completed by the
# extensions of the models Assimp reads and of SRX scenes. Installed once per program name
# (share/bash-completion/completions/), as bash-completion loads a command's completion
# by its name.

_lumaret_models='3d|3ds|3mf|ac|ac3d|acc|amf|ase|ask|assbin|b3d|blend|bsp|bvh|cob|csm|dae|dxf|enff|fbx|glb|gltf|hmp|ifc|ifczip|iqm|irr|irrmesh|lwo|lws|lxo|md2|md3|md5anim|md5camera|md5mesh|mdc|mdl|mesh|mesh.xml|mot|ms3d|ndo|nff|obj|off|ogex|pk3|ply|pmx|prj|q3o|q3s|raw|scn|sib|smd|srx|step|stl|stp|ter|uc|vta|x|x3d|x3db|xgl|zae|zgl'

_lumaret_viewer() {
    local cur prev words cword
    _init_completion || return
    case $prev in
        --animation | --frames | --lights | --thumbnail | --time-limit) return ;;
        --size)
            COMPREPLY=($(compgen -W '640x480 800x600 1024x768 1280x960 1600x1200' -- "$cur"))
            return
            ;;
        --up)
            COMPREPLY=($(compgen -W 'x y z' -- "$cur"))
            return
            ;;
        --root)
            _filedir -d
            return
            ;;
        --screenshot)
            _filedir png
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '$(_parse_help "$1")' -- "$cur"))
        return
    fi
    _filedir "$_lumaret_models"
}
complete -F _lumaret_viewer lumaret-viewer

_lumaret_srxconvert() {
    local cur prev words cword
    _init_completion || return
    case $prev in
        --scale | --animation | --ticks-per-second | --time-limit) return ;;
        --root)
            _filedir -d
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '$(_parse_help "$1")' -- "$cur"))
        return
    fi
    # The first file is the model, the second the SRX scene to write.
    local i files=0
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --scale | --animation | --ticks-per-second | --time-limit | --root) ((i++)) ;;
            -*) ;;
            *) ((files++)) ;;
        esac
    done
    if ((files == 0)); then
        _filedir "$_lumaret_models"
    elif ((files == 1)); then
        _filedir srx
    fi
}
complete -F _lumaret_srxconvert srxconvert

_lumaret_srxdump() {
    local cur prev words cword
    _init_completion || return
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '$(_parse_help "$1")' -- "$cur"))
        return
    fi
    _filedir srx
}
complete -F _lumaret_srxdump srxdump
