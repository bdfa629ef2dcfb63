@rem Example merge_fn.cmd for Windows: do_merge.cmd calls it once per tile with
@rem the tile's X_Y (for example 7eb1000_8041000). rastrel-merge, which comes
@rem with rastrel1 and rastrel2, makes tg\aa_X_Y.pnm, the tile image that
@rem conv.cmd joins, from the tile's three layers fetched in this folder as the
@rem README shows:  wget -nc -i wget_map.dat -P tiles_map  (and cyk, tur).
@rem A missing overlay is left out, one that is not a PNG is left out with a
@rem line, and a base tile that is missing or not a PNG gives a white tile with
@rem a line. rastrel-merge also takes many tiles at once: rastrel-merge X_Y...
@rastrel-merge %1
