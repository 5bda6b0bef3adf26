# Each row's median over several runs of the timing passes (the merged
# tables of merge-table.awk, one file a run): the round trip's median and its
# ratios to the floors, each as "median (lowest–highest)". Columns are found
# by their names in each file's header.
function median(list, n,    i, j, v, sorted) {
  split(list, sorted, " ")
  for (i = 2; i <= n; i++) {
    v = sorted[i] + 0
    for (j = i - 1; j >= 1 && sorted[j] + 0 > v; j--) sorted[j + 1] = sorted[j]
    sorted[j + 1] = v
  }
  low = sorted[1]
  high = sorted[n]
  if (n % 2) return sorted[(n + 1) / 2]
  return (sorted[n / 2] + sorted[n / 2 + 1]) / 2
}
function spread(key, name, format,    m) {
  if (count[key, name] == 0) return "-"
  m = median(values[key, name], count[key, name])
  return sprintf(format " (" format "–" format ")", m, low, high)
}
FNR == 1 { runs++ }
/^\| frames \|/ {
  split($0, cell, " \\| ")
  for (i in column) delete column[i]
  for (i = 1; i in cell; i++) column[cell[i]] = i
  next
}
/^\| [0-9]/ {
  split($0, cell, " \\| ")
  key = substr(cell[1], 3) " | " cell[2] " | " cell[3]
  if (!(key in seen)) { seen[key] = 1; order[++rows] = key }
  for (name in wanted) {
    value = cell[column[name]]
    if (value == "-" || value == "") continue
    values[key, name] = values[key, name] " " value
    count[key, name]++
  }
}
BEGIN {
  wanted["median µs"] = 1
  wanted["median/floor"] = 1
  wanted["median/floors"] = 1
  wanted["median/base"] = 1
}
END {
  printf "Medians over %d runs (lowest–highest):\n\n", runs
  print "| frames | cores | server | median µs | median/floor | median/floors | median/base |"
  print "|---:|---:|---|---:|---:|---:|---:|"
  for (i = 1; i <= rows; i++) {
    key = order[i]
    printf "| %s | %s | %s | %s | %s |\n", key, spread(key, "median µs", "%.1f"),
           spread(key, "median/floor", "%.2f"), spread(key, "median/floors", "%.2f"),
           spread(key, "median/base", "%.2f")
  }
}
