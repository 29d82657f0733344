#!/usr/bin/env bash
# Every relative link of the given Markdown files resolves: the file or folder
# exists, and a #fragment names one of its headings as GitHub anchors them.
# Usage: check_links.sh ROOT FILE...   (FILEs relative to ROOT)
set -uo pipefail
root=$1
shift
# The anchors of a Markdown file's headings, outside code blocks.
anchors() {
  awk '/^```/ { code = !code; next } !code && /^#+ / { sub(/^#+ /, ""); print }' "$1" |
    tr 'A-Z' 'a-z' | sed 's/[^a-z0-9 _-]//g; s/ /-/g'
}
broken=0
for file in "$@"; do
  [ -f "$root/$file" ] || { echo "$file: missing"; broken=1; continue; }
  while read -r link; do
    target=${link%%#*} fragment=
    [[ $link == *#* ]] && fragment=${link#*#}
    path=$(dirname "$root/$file")/$target
    [ -n "$target" ] || path=$root/$file
    if [ ! -e "$path" ] || { [ -n "$fragment" ] && ! anchors "$path" | grep -qxF -- "$fragment"; }; then
      echo "$file: broken link $link"
      broken=1
    fi
  done < <(grep -o '](\([^)]*\))' "$root/$file" | sed 's/^](\(.*\))$/\1/' | grep -v '^[a-z]*:')
done
[ $broken -eq 0 ] && echo "every relative link of $# files resolves"
exit $broken
