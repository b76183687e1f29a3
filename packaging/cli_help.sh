#!/bin/sh
# The text help2man makes kelvor-cli(1) from: the program's --help, then the
# --help of every command that it lists, so the manual page follows the
# program and its commands as they are.
# Usage: cli_help.sh KELVOR_CLI --help|--version
set -eu
program=$1
shift
if [ "${1:-}" != "--help" ]; then
  exec "$program" "$@"
fi
"$program" --help
# The command names: the first word of each line in the "Commands:" block.
commands=$("$program" --help | awk '
  /^Commands:/ { inside = 1; next }
  /^[^ ]/ || /^$/ { inside = 0 }
  inside && /^  [a-z]/ { print $1 }')
for command in $commands; do
  printf '\nThe %s command:\n' "$command"
  "$program" "$command" --help | sed 's/^Usage: /  /'
done
