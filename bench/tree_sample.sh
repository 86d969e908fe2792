# Sourced by the benchmarks that scan part of the scan tree (bench/scan_tree/run_scan_tree.sh
# makes it). write_tree_sample TREE COUNT WORK writes WORK/sample.txt: COUNT of the tree's
# files, relative to TREE, sorted: its few files over 1 MiB (in WORK/big.txt), whose ends
# inside a container are reached through long chains or streams, and every N-th of the others
# (in WORK/rest.txt) in name order, so programs, documents, drivers and data stay mixed as in
# the tree, their folders kept. Fails when TREE does not look like a scan tree.
write_tree_sample() {
  local tree=$1 count=$2 work=$3
  (cd "$tree" && find . -type f -size +1024k | sort >"$work/big.txt")
  (cd "$tree" && find . -type f ! -size +1024k | sort >"$work/rest.txt")
  local big_files rest_files stride
  big_files=$(wc -l <"$work/big.txt")
  rest_files=$(wc -l <"$work/rest.txt")
  if ! ((big_files < count / 10 && rest_files >= count - big_files)); then
    echo "$tree holds $big_files files over 1 MiB and $rest_files others: not a scan tree" >&2
    return 1
  fi
  stride=$((rest_files / (count - big_files)))
  awk -v stride="$stride" -v wanted=$((count - big_files)) \
    'NR % stride == 1 && ++taken <= wanted' "$work/rest.txt" |
    sort - "$work/big.txt" >"$work/sample.txt"
}
