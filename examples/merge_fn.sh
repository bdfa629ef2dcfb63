# Example merge script for Linux: sh merge_fn.sh X_Y (do_merge.cmd's argument,
# e.g. 7eb1000_8041000) makes tg/aa_X_Y.pnm, the tile image that conv.cmd
# joins, from the tile's three layers. It needs Netpbm (apt-get install netpbm)
# and runs in the folder where the tiles were fetched as the README shows:
#   wget -i wget_map.dat -P tiles_map   (and wget_cyk.dat, wget_tur.dat likewise)
# It assumes PNG tiles: an opaque base layer (tiles_map) and two overlay layers
# (tiles_cyk, tiles_tur) that are transparent wherever they draw nothing.
# For another server, change what it assumes: the folders and the layers in
# the loop (leave an overlay out of it to go without it), or jpegtopnm in
# place of pngtopam for JPEG tiles, which have no transparency to lay over.
set -eu
tile=$1
mkdir -p tg
pngtopam "tiles_map/13_$tile" > "tg/aa_$tile.pnm"
for layer in cyk tur; do
  # The overlay's colours, and its transparency as a mask for pamcomp.
  pngtopam "tiles_$layer/13_$tile" > tg/overlay.ppm
  pngtopam -alpha "tiles_$layer/13_$tile" > tg/overlay_alpha.pgm
  pamcomp -alpha=tg/overlay_alpha.pgm tg/overlay.ppm "tg/aa_$tile.pnm" > tg/merged.pnm
  mv tg/merged.pnm "tg/aa_$tile.pnm"
done
rm tg/overlay.ppm tg/overlay_alpha.pgm
