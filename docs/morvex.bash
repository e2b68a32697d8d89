# Bash completion for morvex: switches, project files (*.morvex) and
# directories, and after -l any file for the log.
# Installed as share/bash-completion/completions/morvex.

_morvex() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  COMPREPLY=()

  case $cur in
    -l?*)
      # The log path is written straight after -l.
      mapfile -t COMPREPLY < <(compgen -f -P -l -- "${cur#-l}")
      return
      ;;
    -*)
      mapfile -t COMPREPLY < <(compgen -W '-p -v -q -l -w -? -h --check --graph --graph=dot --graph=mermaid --report= --help --version' -- "$cur")
      return
      ;;
    *=*)
      # A name=value parameter: its value is the project's business.
      return
      ;;
  esac

  mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.morvex' -- "$cur")
  compopt -o filenames 2>/dev/null
}

complete -F _morvex morvex
