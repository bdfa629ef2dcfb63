@echo off
rem Example merge_fn.cmd for Windows, with Netpbm for Windows on the PATH.
rem do_merge.cmd calls it once per tile with the tile's X_Y (for example
rem 7eb1000_8041000); it makes tg\aa_X_Y.pnm, the tile image that conv.cmd
rem joins, from the tile's three layers, fetched in this folder as the README
rem shows:  wget -nc -i wget_map.dat -P tiles_map  (and wget_cyk.dat, wget_tur.dat)
rem It assumes PNG tiles: an opaque base layer (tiles_map) and two overlay
rem layers (tiles_cyk, tiles_tur) that are transparent wherever they draw
rem nothing. For another server, change what it assumes: the folders and the
rem layers in the loop (leave an overlay out of it to go without it), or
rem jpegtopnm in place of pngtopam for JPEG tiles, which have no transparency.
rem Servers have no tile where they have nothing to draw: a missing or empty
rem overlay tile is left out, and a base tile that is missing, empty or not a
rem PNG becomes a plain white tile, with one line on standard error, so that
rem the map still forms at its full size.
setlocal
set image=tg\aa_%1.pnm
if not exist tg mkdir tg
pngtopam tiles_map\13_%1 > %image% 2> nul
if errorlevel 1 (
  >&2 echo merge_fn.cmd: tiles_map\13_%1 is missing or not a PNG, a white tile stands in ^(to fetch it again: del tiles_map\13_%1 ^& wget -nc -i wget_map.dat -P tiles_map^)
  ppmmake white 256 256 > %image%
)
for %%L in (cyk tur) do call :overlay tiles_%%L\13_%1
for %%F in (tg\overlay.ppm tg\overlay_alpha.pgm tg\merged.pnm) do if exist %%F del %%F
goto :eof

:overlay
rem A missing or empty overlay tile draws nothing.
if not exist %1 goto :eof
if %~z1 EQU 0 goto :eof
rem The overlay's colours, and its transparency as a mask for pamcomp.
pngtopam %1 > tg\overlay.ppm
pngtopam -alpha %1 > tg\overlay_alpha.pgm
pamcomp -alpha=tg\overlay_alpha.pgm tg\overlay.ppm %image% > tg\merged.pnm && move /y tg\merged.pnm %image% > nul
goto :eof
