#!/usr/bin/env bash
# man-options.sh VERSION PROGRAM MANPAGE [COMMAND...]: the program reports VERSION, and every
# option that its --help lists (and each COMMAND's --help) is described in its manual page.
set -euo pipefail
version=$1 program=$2 page=$3
shift 3
name=$(basename "$program")
got=$(env -u DISPLAY "$program" --version)
[ "$got" = "$name $version" ] || { echo "$name --version: \"$got\", expected \"$name $version\""; exit 1; }

help=$(env -u DISPLAY "$program" --help)
for command in "$@"; do help+=$'\n'$("$program" "$command" --help); done
# The page's text with roff's escaped hyphens plain.
text=$(sed 's/\\-/-/g' "$page")
missing=0
for option in $(grep -o -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u); do
    if ! grep -qE -- "$option([^a-z0-9-]|$)" <<<"$text"; then
        echo "$(basename "$page"): $option is not described"
        missing=1
    fi
done
exit $missing
