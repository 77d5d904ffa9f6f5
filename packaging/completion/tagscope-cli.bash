# bash completion for tagscope-cli: commands, their options, and the values some options take.
_tagscope_cli() {
    local cur prev words cword
    _init_completion || return

    local commands="status browse props read write watch"
    local common="--computer --user --password --password-env --proxy --cafile --accept-bad-cert --timeout
        --auth-level --impersonation --help"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        if [[ " $commands " == *" ${words[i]} "* ]]; then
            command=${words[i]}
            break
        fi
    done

    case $prev in
        --format)
            COMPREPLY=($(compgen -W "text csv jsonl" -- "$cur"))
            return ;;
        --type)
            COMPREPLY=($(compgen -W "I1 I2 I4 I8 UI1 UI2 UI4 UI8 R4 R8 CY DATE BSTR BOOL \
                I4[] R8[] BSTR[] double float int string boolean dateTime" -- "$cur"))
            return ;;
        --auth-level)
            COMPREPLY=($(compgen -W "none connect call packet integrity privacy" -- "$cur"))
            return ;;
        --impersonation)
            COMPREPLY=($(compgen -W "anonymous identify impersonate delegate" -- "$cur"))
            return ;;
        --cafile)
            _filedir
            return ;;
        --password-env)
            COMPREPLY=($(compgen -e -- "$cur"))
            return ;;
        --computer | --user | --password | --proxy | --timeout | --filter | --vendor-filter | \
            --rate | --deadband | --hold | --wait | --count | --seconds | --give-up-after)
            return ;;
    esac

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    local own=""
    case $command in
        browse) own="--flat --filter --vendor-filter --type --readable --writable --items-only --branches-only" ;;
        props) own="--values" ;;
        read) own="--type --cache" ;;
        write) own="--type" ;;
        watch) own="--rate --deadband --hold --wait --count --seconds --format --no-resubscribe --give-up-after" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$own $common" -- "$cur"))
    fi
} &&
    complete -F _tagscope_cli tagscope-cli
