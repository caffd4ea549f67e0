# bash completion for velmora-batch

_velmora_batch()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}

    case $prev in
        --format)
            COMPREPLY=($(compgen -W 'keep jpg bmp pcx gif png tif webp avif jxl' -- "$cur"))
            return ;;
        --resize)
            COMPREPLY=($(compgen -W 'fit width height stretch' -- "$cur"))
            return ;;
        --rotate)
            COMPREPLY=($(compgen -W '-90 90 180' -- "$cur"))
            return ;;
        --overwrite)
            COMPREPLY=($(compgen -W 'ask rename overwrite skip' -- "$cur"))
            return ;;
        --log)
            COMPREPLY=($(compgen -W 'text json' -- "$cur"))
            return ;;
        --shard)
            COMPREPLY=($(compgen -W 'auto' -- "$cur"))
            return ;;
        --out)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -d -- "$cur"))
            return ;;
        --files-from)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --font)
            local IFS=$'\n'
            COMPREPLY=($(compgen -W "$(fc-list : family 2>/dev/null | cut -d, -f1 | sort -u)" -- "$cur"))
            return ;;
        --quality|--prefix|--suffix|--start|--width|--height|--stamp|--font-size|--color|--jobs|--shards)
            return ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--format --quality --out --prefix --suffix --start --resize --width
            --height --no-enlarge --sharpen --rotate --stamp --font --font-size --color --overwrite
            --update -r --recursive --files-from -0 --shard --shards --jobs --no-autorotate --strip
            --strip-location --log --help' -- "$cur"))
        return
    fi

    # Image files and folders.
    compopt -o filenames 2>/dev/null
    local IFS=$'\n'
    COMPREPLY=($(compgen -d -- "$cur")
        $(compgen -f -X '!*.@([jJ][pP][gG]|[jJ][pP][eE][gG]|[pP][nN][gG]|[gG][iI][fF]|[bB][mM][pP]|[pP][cC][xX]|[tT][iI][fF]|[tT][iI][fF][fF]|[wW][eE][bB][pP]|[aA][vV][iI][fF]|[jJ][xX][lL]|[hH][eE][iI][cC]|[hH][eE][iI][fF])' -- "$cur"))
}
complete -F _velmora_batch velmora-batch
