# What a user would otherwise write: rastrel1's four files from an awk script.
# Usage: awk -v xstart=HEX -v xstop=HEX -v ystart=HEX -v ystop=HEX -v host=HOST -f lists.awk
function hex(text,    i, value) {
  value = 0
  for (i = 1; i <= length(text); i++) value = value * 16 + index("0123456789abcdef", tolower(substr(text, i, 1))) - 1
  return value
}
function label(key) { return sprintf("%04x000", key) }
BEGIN {
  x0 = hex(xstart); x1 = hex(xstop)
  y0 = hex(ystart); y1 = hex(ystop)
  base = "http://" host
  ORS = "\r\n"
  for (x = x0; x <= x1; x += 8) {
    xl = label(x)
    for (y = y0; y <= y1; y += 8) {
      pair = xl "_" label(y)
      print base "/turist/13_" pair > "wget_map.dat"
      print base "/tcyklo/13_" pair > "wget_cyk.dat"
      print base "/ttur/13_" pair > "wget_tur.dat"
      print "@call merge_fn.cmd " pair > "do_merge.cmd"
    }
  }
}
