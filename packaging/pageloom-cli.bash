# bash completion for pageloom-cli. The options are those its --help lists, so the two
# never differ; after an option (long or short) whose value is a DIR, folder names are
# offered, after one whose value is a FILE, file names; after an option taking another kind
# of value, nothing.

_pageloom_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=""
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  local help line kind="" options=()
  help=$("$1" --help 2>/dev/null) || help=$(command pageloom-cli --help 2>/dev/null)
  # "  -h, --help  ...", "  --save DIR  ...", "  --pack DIR...  ..."
  local re='^[[:space:]]+(-[[:alnum:]], )?(--[[:alnum:]][[:alnum:]-]*)([ =]([A-Z]+))?'
  while IFS= read -r line; do
    [[ $line =~ $re ]] || continue
    options+=("${BASH_REMATCH[2]}")
    if [[ $prev == "${BASH_REMATCH[2]}" || (-n ${BASH_REMATCH[1]} && $prev == "${BASH_REMATCH[1]%, }") ]]; then
      kind=${BASH_REMATCH[4]:-none}
    fi
  done <<<"$help"

  COMPREPLY=()
  case $kind in
    DIR)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return ;;
    FILE)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return ;;
    none | "") ;;
    *) return ;;  # a value of its own kind: nothing to offer
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "${options[*]}" -- "$cur")
  fi
}
complete -F _pageloom_cli pageloom-cli
