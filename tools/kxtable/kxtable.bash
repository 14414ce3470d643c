# Bash completion for kxtable: its commands, each command's options, the
# kinds of damage of `sample --kinds`, and table files (.kxt) and folders,
# or any file where a CSV file or a page goes.
_kxtable() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD - 1]}
  local commands="info dump load import export sample check repair report help"
  local command="" i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      -*) ;;
      *) command=${COMP_WORDS[i]}; break ;;
    esac
  done
  COMPREPLY=()
  if [[ -z $command ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
    return
  fi
  local options="--help"
  local runs="--recursive --crlf --full --json --summary --format --quiet
    --no-progress --jobs"
  case $command in
    check) options+=" $runs" ;;
    repair) options+=" $runs
      --keep-deleted --keep-duplicates --skip-corrupted --replace --restore" ;;
    report) options+=" --output --force --recursive --quiet --no-progress
      --repair --restore --repaired" ;;
    info) options+=" --quiet --json" ;;
    import) options+=" --force --delimiter --no-header --date-format
      --time-format" ;;
    export) options+=" --force" ;;
    sample) options+=" --records --seed --damage --force --cadence --jitter
      --kinds --block-length --truth" ;;
    load) options+=" --record-length --force" ;;
    help)
      mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
      return ;;
  esac
  case $prev in
    --delimiter)
      mapfile -t COMPREPLY < <(compgen -W "',' ';' tab" -- "$cur")
      return ;;
    --kinds)
      local kinds="null deleted corrupted duplicate out-of-order bad-year
        bad-month bad-day bad-hour bad-minute bad-second wrong-separators
        future-year nul-in-stamp bitflip smash block zerotime"
      mapfile -t COMPREPLY < <(compgen -W "$kinds" -- "${cur##*,}")
      local done_part=${cur%"${cur##*,}"}
      COMPREPLY=("${COMPREPLY[@]/#/$done_part}")
      return ;;
    --truth | --output | -o | --repaired)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return ;;
    --format)
      mapfile -t COMPREPLY < <(compgen -W "text tsv" -- "$cur")
      return ;;
    --records | --seed | --damage | --record-length | --cadence | --jitter | \
      --block-length | --jobs | -j | --date-format | --time-format) return ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return
  fi
  compopt -o filenames 2>/dev/null
  if [[ $command == import || $command == export ]]; then
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  else
    mapfile -t COMPREPLY < <(compgen -f -X '!*.[kK][xX][tT]' -- "$cur";
                             compgen -d -- "$cur")
  fi
}
complete -F _kxtable kxtable
