# Joins the client's tables of several passes into one: a "cores" column
# after the block size (the label of each pass, in the order of the files:
# -v labels=1,2), the rows of one block size together, and the instruction
# counts of bench/instructions.sh (-v counts=FILE, may be empty) for the
# servers it profiled.
BEGIN {
  split(labels, label, ",")
  if (counts != "") {
    while ((getline line < counts) > 0) {
      split(line, field, "\t")
      whole[field[1] " " field[2]] = field[3]
      own[field[1] " " field[2]] = field[4]
    }
  }
}
FNR == 1 { pass++ }
/^Round trips/ { if (pass == 1) preamble = $0; next }
/^load average after/ { after = $0; next }
/^\| frames \|/ {
  if (pass == 1) {
    header = $0
    sub(/^\| frames \|/, "| frames | cores |", header)
    if (counts != "") header = header " instructions/block | own instructions/block |"
  }
  next
}
/^\|---/ {
  if (pass == 1) {
    separator = "|---:|---:" substr($0, 6)
    if (counts != "") separator = separator "---:|---:|"
  }
  next
}
/^\| [0-9]/ {
  split($0, cell, " \\| ")
  frames = substr(cell[1], 3)
  row = $0
  sub(/^\| [0-9]+ \|/, "& " label[pass] " |", row)
  if (counts != "") {
    key = frames " " cell[2]
    row = row ((key in whole) ? " " whole[key] " | " own[key] " |" : " - | - |")
  }
  if (!(frames in rows)) order[++sizes] = frames
  rows[frames] = rows[frames] row "\n"
}
END {
  print preamble
  print ""
  print header
  print separator
  for (i = 1; i <= sizes; i++) printf "%s", rows[order[i]]
  print ""
  print after
}
