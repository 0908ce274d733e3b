# shellcheck shell=bash
# Sourced first, from the project's folder, by the scripts that build and run kivom: scripts/setup
# makes the locale that the Wine environment switches to; then the script starts again by its path
# from here, since a shell that looked for locales before they were made does not see them.
if [ -z "${KIVOM_SET_UP:-}" ]; then
  scripts/setup || exit 1
  KIVOM_SET_UP=1 exec "scripts/${0##*/}" "$@"
fi
