#!/usr/bin/env bash
# Fails when a product file includes from a folder above its own, or names an include without its
# folder. Folders, bottom to top; one floor may hold several folders that do not include each
# other. survey/ (the wire protocol) reads nothing of ours, so that the server, which stands beside
# the program and reads only the protocol and the chart pieces, never comes to depend on the
# program's folders. The build enforces the same through each target's include roots
# (cmake/IncludeRoots.cmake); this check also sees the floors within what a target links.
set -euo pipefail
cd "$(dirname "$0")/.."

floors=("res chart" "ui" "help" "audio" "synth survey" "results" "checklog" "questionnaire" "report" "diagnoses" "app")
declare -A floor
for i in "${!floors[@]}"; do
  for dir in ${floors[$i]}; do floor[$dir]=$i; done
done

# The folders a file in $1 may include from.
allowed() {
  local dir=$1 other
  if [[ $dir == server ]]; then
    echo "server survey chart res"
    return
  fi
  if [[ $dir == survey ]]; then
    echo "survey res"
    return
  fi
  for other in "${!floor[@]}"; do
    if [[ $other == "$dir" ]] || (( floor[$other] < floor[$dir] )); then
      echo -n "$other "
    fi
  done
}

status=0
for dir in "${!floor[@]}" server; do
  [[ -d $dir ]] || continue
  ok=" $(allowed "$dir") "
  while IFS=: read -r file line target; do
    used=${target%%/*}
    if [[ $target != */* ]]; then
      echo "$file:$line: \"$target\" names no folder" >&2
      status=1
      continue
    fi
    if [[ $ok != *" $used "* ]]; then
      echo "$file:$line: $dir/ includes from $used/ (\"$target\"), a folder it may not use" >&2
      status=1
    fi
  done < <(grep -rnE --include='*.h' --include='*.cpp' --include='*.h.in' '^\s*#\s*include\s*"' "$dir" |
           sed -E 's/^([^:]*):([0-9]+):.*#\s*include\s*"([^"]*)".*/\1:\2:\3/')
done
[[ $status -eq 0 ]] && echo "layers: every include points down"
exit "$status"
