# The Mandarin readings of each character of the Basic Multilingual Plane
# from the Unihan database: the modern dictionaries' readings (kMandarin,
# kTGHZ2013, kXHC1983) together, or where a character has none of those its
# Hanyu Da Zidian readings. One line per character: code point, a tab, the
# readings with their tone marks, each once, separated by blanks.
length($1) == 6 && substr($1, 1, 2) == "U+" {
  kind = ""
  if ($2 == "kMandarin" || $2 == "kTGHZ2013" || $2 == "kXHC1983") kind = "m"
  else if ($2 == "kHanyuPinyin") kind = "h"
  if (kind == "") next
  cp = substr($1, 3)
  for (i = 3; i <= NF; i++) {
    r = $i
    sub(/^.*:/, "", r)
    n = split(r, parts, ",")
    for (k = 1; k <= n; k++) {
      key = kind SUBSEP cp SUBSEP parts[k]
      if (key in seen) continue
      seen[key] = 1
      if (kind == "m") modern[cp] = modern[cp] " " parts[k]
      else old[cp] = old[cp] " " parts[k]
    }
  }
}
END {
  for (cp in modern) print cp "\t" substr(modern[cp], 2)
  for (cp in old) if (!(cp in modern)) print cp "\t" substr(old[cp], 2)
}
