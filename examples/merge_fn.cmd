@echo off
rem Example merge_fn.cmd for Windows, with Netpbm for Windows on the PATH.
rem do_merge.cmd calls it once per tile with the tile's X_Y (for example
rem 7eb1000_8041000); it makes tg\aa_X_Y.pnm, the tile image that conv.cmd
rem joins, from the tile's three layers, fetched in this folder as the README
rem shows:  wget -i wget_map.dat -P tiles_map  (and wget_cyk.dat, wget_tur.dat)
rem It assumes PNG tiles: an opaque base layer (tiles_map) and two overlay
rem layers (tiles_cyk, tiles_tur) that are transparent wherever they draw
rem nothing. For another server, change what it assumes: the folders and the
rem layers in the loop (leave an overlay out of it to go without it), or
rem jpegtopnm in place of pngtopam for JPEG tiles, which have no transparency.
if not exist tg mkdir tg
pngtopam tiles_map\13_%1 > tg\aa_%1.pnm
for %%L in (cyk tur) do (
  rem The overlay's colours, and its transparency as a mask for pamcomp.
  pngtopam tiles_%%L\13_%1 > tg\overlay.ppm
  pngtopam -alpha tiles_%%L\13_%1 > tg\overlay_alpha.pgm
  pamcomp -alpha=tg\overlay_alpha.pgm tg\overlay.ppm tg\aa_%1.pnm > tg\merged.pnm
  move /y tg\merged.pnm tg\aa_%1.pnm > nul
)
del tg\overlay.ppm tg\overlay_alpha.pgm
