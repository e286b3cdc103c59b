#!/usr/bin/env bash
# Saves what `zipinfo -v` reports for every corpus archive, as the oracle of
# the record readers' corpus test: real/NAME.txt holds the report and
# real/NAME.rc zipinfo's exit status (damaged archives and the first parts
# of split sets give a non-zero status, which the test relies on).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
corpus=${QUV_CORPUS:-$here/../../../shared/corpus}
corpus=$(realpath "$corpus")
export LC_ALL=C.UTF-8
shopt -s nullglob
for folder in real legacy; do
  mkdir -p "$folder"
  for archive in "$corpus/$folder"/*; do
    [ -f "$archive" ] || continue
    name=$(basename "$archive")
    rc=0
    zipinfo -v "$archive" > "$folder/$name.txt" 2>&1 || rc=$?
    echo "$rc" > "$folder/$name.rc"
  done
done
ls real legacy | grep -c '\.txt$' > count
