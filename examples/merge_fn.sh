# Example merge script for Linux: sh merge_fn.sh X_Y (do_merge.cmd's argument,
# e.g. 7eb1000_8041000) makes tg/aa_X_Y.pnm, the tile image that conv.cmd
# joins, from the tile's three layers. It needs Netpbm (apt-get install netpbm)
# and runs in the folder where the tiles were fetched as the README shows:
#   wget -nc -i wget_map.dat -P tiles_map   (and wget_cyk.dat, wget_tur.dat likewise)
# It assumes PNG tiles: an opaque base layer (tiles_map) and two overlay layers
# (tiles_cyk, tiles_tur) that are transparent wherever they draw nothing.
# For another server, change what it assumes: the folders and the layers in
# the loop (leave an overlay out of it to go without it), or jpegtopnm in
# place of pngtopam for JPEG tiles, which have no transparency to lay over.
#
# Servers have no tile where they have nothing to draw: a missing or empty
# overlay tile is left out, and a base tile that is missing, empty or not a
# PNG becomes a plain white tile, with one line on standard error, so that
# the map still forms at its full size. An overlay that is not a PNG (a
# truncated download) is left out with one line.
#
# The layers are laid over each other on their encoded values (pamcomp
# -linear), as web maps stack them; rastrel-merge gives the same bytes, much
# faster. Its temporary files are named after the tile, so several tiles can
# be merged at once.
set -eu
tile=$1
image=tg/aa_$tile.pnm
colours=tg/$tile.colours.ppm alpha=tg/$tile.alpha.pgm merged=tg/$tile.merged.pnm
mkdir -p tg
trap 'rm -f "$colours" "$alpha" "$merged"' EXIT
if ! pngtopam "tiles_map/13_$tile" > "$image" 2> /dev/null; then
  echo "merge_fn.sh: tiles_map/13_$tile is missing or not a PNG, a white tile stands in" \
    "(to fetch it again: rm -f tiles_map/13_$tile; wget -nc -i wget_map.dat -P tiles_map)" >&2
  ppmmake white 256 256 > "$image"
fi
for layer in cyk tur; do
  overlay=tiles_$layer/13_$tile
  [ -s "$overlay" ] || continue
  # The overlay's colours, and its transparency as a mask for pamcomp.
  if pngtopam "$overlay" > "$colours" 2> /dev/null && pngtopam -alpha "$overlay" > "$alpha" 2> /dev/null; then
    pamcomp -linear -alpha="$alpha" "$colours" "$image" > "$merged"
    mv "$merged" "$image"
  else
    echo "merge_fn.sh: $overlay is not a PNG, left out" >&2
  fi
done
