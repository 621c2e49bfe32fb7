# bash completion for tidewave: its commands, their options, filter names
# (from `tidewave list`) and sound sources (from `tidewave play --list-sources`).
_tidewave() {
  local cur prev words cword
  _init_completion || return

  local commands="list analyse render play demo"
  local global="--add-ons --data-dir --base-dir --image-dir --help --version"
  local command="" w
  for w in "${words[@]:1:cword-1}"; do
    case " $commands " in *" $w "*) command=$w; break ;; esac
  done

  case "$prev" in
    --filter)
      local IFS=$'\n' name
      COMPREPLY=()
      for name in $("${words[0]}" list 2>/dev/null | sed -n 's/^  filter [0-9]*: "\(.*\)"$/\1/p'); do
        [[ "$name" == "${cur//\\/}"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
      done
      return ;;
    --capture)
      COMPREPLY=($(compgen -W "$("${words[0]}" play --list-sources 2>/dev/null | awk 'NR > 1 {print $1}')" -- "$cur"))
      return ;;
    --add-ons|--data-dir|--base-dir|--image-dir|--out)
      _filedir -d; return ;;
    -o|--output|--sheet|--record|--replay|--screenshot)
      _filedir; return ;;
    --mode) COMPREPLY=($(compgen -W "8 32" -- "$cur")); return ;;
    --pace) COMPREPLY=($(compgen -W "auto realtime fast" -- "$cur")); return ;;
    --fit) COMPREPLY=($(compgen -W "contain cover stretch" -- "$cur")); return ;;
    --scale) COMPREPLY=($(compgen -W "nearest smooth" -- "$cur")); return ;;
    --hold-keys)
      COMPREPLY=($(compgen -W "left-shift right-shift control left-control right-control option command left-command right-command caps-lock num-lock scroll-lock" -- "${cur##*,}"))
      return ;;
    --fps|--start|--seconds|--size|--video-size|--persistence|--warm-up) return ;;
  esac

  local options
  case "$command" in
    "") COMPREPLY=($(compgen -W "$commands $global" -- "$cur")); return ;;
    list) options="--help" ;;
    analyse) options="--fps --help" ;;
    render) options="--output --filter --sheet --start --seconds --fps --size --video-size --fit --scale --mode --persistence --warm-up --pace --record --replay --hold-keys --help" ;;
    demo) options="--out --start --seconds --help" ;;
    play) options="--filter --size --video-size --scale --mode --fps --start --seconds --persistence --no-audio --frame-clock --screenshot --record --fullscreen --capture --list-sources --help" ;;
  esac
  if [[ "$cur" == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  else
    _filedir
  fi
}
complete -F _tidewave tidewave
