# The keys of a place: sh keys.sh WEST SOUTH EAST NORTH [REMAINDER]
# prints "XSTART XSTOP YSTART YSTOP", the keys of the smallest block of tiles
# that covers the box from longitude WEST to EAST and latitude SOUTH to NORTH
# (decimal degrees on WGS 84, longitude first), ready for rastrel1 and rastrel2:
#   rastrel1 $(sh keys.sh 14.2 49.6 14.4 49.8)
# REMAINDER is that of the server's keys modulo 8 (default 1, as in 7eb1).
# It needs GDAL's gdaltransform (apt-get install gdal-bin) for the projection.
#
# A box in degrees is not a rectangle in UTM zone 33: its edges are curves
# there (a parallel that crosses 15 degrees east dips lowest at 15 E), so
# points all along every edge are projected, not just the corners.
set -eu

refuse() {
  echo "keys.sh: $1" >&2
  exit 2
}

[ $# -eq 4 ] || [ $# -eq 5 ] ||
  refuse "usage: sh keys.sh WEST SOUTH EAST NORTH [REMAINDER] (decimal degrees, longitude first)"
problem=$(awk -v west="$1" -v south="$2" -v east="$3" -v north="$4" -v remainder="${5:-1}" 'BEGIN {
  number = "^[+-]?([0-9]+[.]?[0-9]*|[.][0-9]+)$"
  if (west !~ number || south !~ number || east !~ number || north !~ number)
    print "WEST SOUTH EAST NORTH must be decimal degrees, such as 14.25"
  else if (remainder !~ /^[0-7]$/) print "REMAINDER must be a digit from 0 to 7"
  else if (!(west + 0 < east + 0 && south + 0 < north + 0)) print "the box needs WEST < EAST and SOUTH < NORTH"
  else if (west < 6 || east > 24 || south < 0 || north > 84)
    print "the box must lie within 6 to 24 degrees east and 0 to 84 degrees north, where UTM zone 33 serves"
}')
[ -z "$problem" ] || refuse "$problem"
command -v gdaltransform > /dev/null || refuse "gdaltransform not found: install GDAL (apt-get install gdal-bin)"

# Points along the four edges, 64 steps each, and 15 E on the south and north
# edges where the box spans it.
points() {
  awk -v west="$1" -v south="$2" -v east="$3" -v north="$4" 'BEGIN {
    for (i = 0; i <= 64; i++) {
      lon = west + (east - west) * i / 64; lat = south + (north - south) * i / 64
      print lon, south; print lon, north; print west, lat; print east, lat
    }
    if (west < 15 && 15 < east) { print 15, south; print 15, north }
  }'
}

metres=$(points "$@" | gdaltransform -s_srs EPSG:4326 -t_srs EPSG:32633) ||
  refuse "gdaltransform failed"
# The extremes, made keys by the formulas x = floor((E + 3700000) / 128) and
# y = floor((N - 1300000) / 128), then moved down to the server's grid.
keys=$(printf '%s\n' "$metres" | awk -v remainder="${5:-1}" '
  function floor(v) { return v == int(v) || v > 0 ? int(v) : int(v) - 1 }
  function on_grid(key) { return key - ((key - remainder) % 8 + 8) % 8 }
  function hex(key,   text) {
    if (key < 0) key += 4294967296
    text = ""
    do { text = substr("0123456789abcdef", key % 16 + 1, 1) text; key = floor(key / 16) } while (key > 0)
    return text
  }
  NF < 2 || $1 !~ /^-?[0-9.]+$/ || $2 !~ /^-?[0-9.]+$/ { bad = 1; exit }
  NR == 1 || $1 < west { west = $1 }
  NR == 1 || $1 > east { east = $1 }
  NR == 1 || $2 < south { south = $2 }
  NR == 1 || $2 > north { north = $2 }
  END {
    if (bad || NR == 0) exit 1
    print hex(on_grid(floor((west + 3700000) / 128))), hex(on_grid(floor((east + 3700000) / 128))),
          hex(on_grid(floor((south - 1300000) / 128))), hex(on_grid(floor((north - 1300000) / 128)))
  }') || refuse "gdaltransform gave no coordinates"
echo "$keys"
