#!/bin/sh
# rastrel-map: one command from a box of degrees (or a block of keys) to a
# finished map NAME.png with its calibration NAME.map, and on request a
# GeoTIFF and MBTiles. It chains rastrel1, wget, rastrel-merge, the joining
# lines of rastrel2's conv.cmd, pnmtopng and GDAL. The tiles it fetched stay in
# NAME_tiles, each one only once complete, so a run again (after an
# interruption, or for tiles the server lacked) fetches only what is missing.
set -u

version="@PROJECT_VERSION@"
bin=$(dirname -- "$0")
# Shared with the example scripts, in a place documentation removal leaves alone.
lib=$bin/../share/rastrel
usage="usage: rastrel-map [OPTIONS] WEST SOUTH EAST NORTH NAME
       rastrel-map [OPTIONS] --keys XSTART XSTOP YSTART YSTOP NAME"
# Joining needs the raw image (196,608 bytes a tile) about three times over.
bytes_per_tile=196608

say() { printf 'rastrel-map: %s\n' "$*" >&2; }
refuse() { say "$*"; exit 2; }

help() {
  cat <<EOF
$usage

Makes NAME.png and its OziExplorer calibration NAME.map in the current folder
from the tiles of a box (decimal degrees on WGS 84, longitude first) or of a
block of keys. The tiles stay in NAME_tiles, so a run again fetches only what
is missing.

  --keys               take four hexadecimal keys instead of a box
  --remainder R        the server's keys modulo 8, for a box (default 1)
  --connections N      downloads at once, 1 to 16 (default 2); many public
                       servers forbid bulk downloads: their usage policy
                       decides how far to raise it
  --jobs N             tiles merged at once, 1 to 64 (default: processors)
  --geotiff            also make NAME.tif
  --mbtiles            also make NAME.mbtiles
  --help, --version
EOF
}

# ---- Command line ----------------------------------------------------------

whole_number() {  # OPTION VALUE LOW HIGH
  case $2 in
    '' | *[!0-9]* | ????*) ;;  # four digits would already be out of range
    *) [ "$2" -lt "$3" ] || [ "$2" -gt "$4" ] || return 0 ;;
  esac
  refuse "$1 needs a whole number from $3 to $4, not '$2'"
}

connections=2 jobs=$(nproc 2> /dev/null || echo 2) remainder=1 keys_given=0 geotiff=0 mbtiles=0
[ "$jobs" -le 64 ] || jobs=64
while [ $# -gt 0 ]; do
  case $1 in
    --help) help; exit 0 ;;
    --version) echo "rastrel-map $version"; exit 0 ;;
    --keys) keys_given=1 ;;
    --geotiff) geotiff=1 ;;
    --mbtiles) mbtiles=1 ;;
    --connections | --jobs | --remainder)
      [ $# -ge 2 ] || refuse "$1 needs a value"
      case $1 in
        --connections) whole_number "$1" "$2" 1 16; connections=$2 ;;
        --jobs) whole_number "$1" "$2" 1 64; jobs=$2 ;;
        --remainder) whole_number "$1" "$2" 0 7; remainder=$2 ;;
      esac
      shift ;;
    --) shift; break ;;
    -?*) case $1 in -[0-9.]*) break ;; esac  # a negative degree is not an option
      refuse "unknown option $1 (rastrel-map --help lists them)" ;;
    *) break ;;
  esac
  shift
done
[ $# -eq 5 ] || refuse "$(printf '%s' "$usage" | tr -s ' \n' ' ')"
name=$5
case $name in
  '') refuse "the map name is empty" ;;
  */*) refuse "the map name '$name' holds a folder: run rastrel-map in the map's folder, with a name alone" ;;
esac

need() {  # COMMAND PACKAGE
  command -v "$1" > /dev/null || refuse "$1 not found: install $2 (apt-get install $2)"
}
for program in rastrel1 rastrel2 rastrel-merge; do
  [ -x "$bin/$program" ] || refuse "$bin/$program not found: reinstall rastrel"
done
need wget wget
need pnmcat netpbm
need pnmtopng netpbm
[ "$keys_given" -eq 1 ] || need gdaltransform gdal-bin
[ "$geotiff$mbtiles" = 00 ] || need gdal_translate gdal-bin
[ "$mbtiles" -eq 0 ] || need gdaladdo gdal-bin

if [ "$keys_given" -eq 1 ]; then
  for key in "$1" "$2" "$3" "$4"; do
    case $key in
      '' | *[!0-9A-Fa-f]* | ?????????*) refuse "'$key' is not a key: 1 to 8 hexadecimal digits, such as 7eb1" ;;
    esac
  done
  set -- "$1" "$2" "$3" "$4"
else
  # keys.sh's own refusal, as ours.
  block=$({ sh "$lib/keys.sh" "$1" "$2" "$3" "$4" "$remainder" 2>&1 >&3 3>&- |
    sed 's/^keys\.sh: /rastrel-map: /' >&2; } 3>&1)
  [ -n "$block" ] || exit 2
  # shellcheck disable=SC2086  # the four keys
  set -- $block
fi

# Tile counts as rastrel1 and rastrel2 take them: the difference in 32 bits,
# divided by 8 toward zero, plus one.
counts=$(awk -v keys="$*" 'BEGIN {
  split(tolower(keys), k, " ")
  printf "%d %d\n", count(k[1], k[2]), count(k[3], k[4])
}
function value(hex,   v, i) {
  for (i = 1; i <= length(hex); i++) v = v * 16 + index("0123456789abcdef", substr(hex, i, 1)) - 1
  return v
}
function count(start, stop,   d) {
  d = (value(stop) - value(start)) % 4294967296
  if (d < 0) d += 4294967296
  if (d >= 2147483648) d -= 4294967296
  return (d < 0 ? -int(-d / 8) : int(d / 8)) + 1
}')
columns=${counts% *} rows=${counts#* }
[ "$columns" -lt 1 ] || [ "$rows" -lt 1 ] && refuse "the block $* is empty: a stop key lies 8 or more below its start key"
space=$(awk -v tiles="$columns $rows" -v free="$(df -Pk . | awk 'NR == 2 { print $4 }')" -v bytes="$bytes_per_tile" 'BEGIN {
  split(tiles, t, " "); need = t[1] * t[2] * bytes * 3
  if (free != "" && need > free * 1024) printf "%.0f MB, and this folder has %.0f MB", need / 1e6, free * 1024 / 1e6
}')
[ -z "$space" ] || refuse "the map of $columns x $rows tiles needs about $space free"

# ---- The run -----------------------------------------------------------------

work=${name}_tiles
here=$(pwd)
pids=

stop_jobs() {
  # shellcheck disable=SC2086  # one word a process
  [ -z "$pids" ] || kill $pids 2> /dev/null
  wait
  pids=
}

# What a run leaves besides the maps: the complete tiles, nothing else.
clean_up() {
  cd "$here/$work" 2> /dev/null || return 0
  keep_complete_tiles
  rm -rf partial tg
  rm -f wget_map.dat wget_cyk.dat wget_tur.dat do_merge.cmd conv.cmd temp.pnm line_*.pnm "$name.png" "$name.map" \
    "$name.tif" "$name.mbtiles"
  cd "$here" && rmdir "$work/tiles_map" "$work/tiles_cyk" "$work/tiles_tur" "$work" 2> /dev/null
  return 0
}

fail() {
  trap '' INT TERM
  stop_jobs
  say "$*"
  clean_up
  exit 1
}

interrupted() {
  trap '' INT TERM
  [ ! -t 2 ] || printf '\n' >&2
  stop_jobs
  clean_up
  say "interrupted; the complete tiles are kept in $work, run again to go on"
  exit "$1"
}
trap 'interrupted 130' INT
trap 'interrupted 143' TERM

# Shows "LABEL COUNT of TOTAL" on a terminal, redrawn each second, until stopped.
show_progress() {  # LABEL TOTAL COUNTER
  [ -t 2 ] || return 0
  (
    trap 'kill $sleeper 2> /dev/null; exit 0' TERM
    while :; do
      printf '\rrastrel-map: %s %s of %s\033[K' "$1" "$($3)" "$2" >&2
      sleep 1 &
      sleeper=$!
      wait $sleeper
    done
  ) &
  watcher=$!
}

# Waits for every job in $pids; their statuses go to $statuses.
wait_jobs() {
  statuses=
  for pid in $pids; do
    wait "$pid"
    statuses="$statuses $?"
  done
  pids=
}

# Ends show_progress with the phase's line, plain where no terminal shows it.
phase_line() {
  if [ -t 2 ]; then
    kill "$watcher" 2> /dev/null
    wait "$watcher"
    printf '\r\033[K' >&2
  fi
  say "$*"
}

# ---- Download ----------------------------------------------------------------

# Tiles enter tiles_LAYER only once wget has logged them complete; the one a
# connection was receiving when it stopped is dropped with partial/.
keep_complete_tiles() {
  [ -d partial ] || return 0
  for log in partial/log.*; do
    [ -f "$log" ] || continue
    sed -n 's/.* -> "\(partial\/[^"]*\)".*/\1/p' "$log"
  done | awk '{ complete[$0] = 1 } END { while (("find partial -type f -path \"partial/[0-9]*/*\"" | getline f) > 0)
    if (!(f in complete)) print f }' | xargs rm -f
  for from in turist:map tcyklo:cyk ttur:tur; do
    find partial -type f -path "partial/[0-9]*/${from%:*}/*" -exec sh -c 'mv -f "$@" "$0"' "tiles_${from#*:}" {} +
  done
}

downloaded() { cat partial/log.* 2> /dev/null | grep -c -e ' -> "' -e 'ERROR 404'; }

# The lines of a layer's list whose tiles are not here yet.
wanted() {  # LAYER
  { ls "tiles_$1"; echo /; tr -d '\r' < "wget_$1.dat"; } |
    awk '$0 == "/" { listed = 1; next } !listed { have[$0] = 1; next } { n = $0; sub(/.*\//, "", n) } !(n in have)'
}

download() {
  mkdir -p partial tiles_map tiles_cyk tiles_tur || fail "cannot make the folders for the tiles in $work"
  for layer in map cyk tur; do wanted $layer; done > partial/wanted
  total=$(($(wc -l < partial/wanted) + 0))
  awk -v n="$connections" '{ print > ("partial/list." NR % n) }' partial/wanted
  show_progress download "$total" downloaded
  for list in partial/list.*; do
    [ -f "$list" ] || continue
    worker=${list##*.}
    LC_ALL=C wget --no-verbose --tries=3 --timeout=60 -x -nH -P "partial/$worker" -i "$list" \
      -o "partial/log.$worker" < /dev/null &
    pids="$pids $!"
  done
  wait_jobs
  # 8 is a server's error answer: a tile it lacks (404) is expected, any other is not.
  cause=$(cat partial/log.* 2> /dev/null | grep -v -e ' -> "' -e 'ERROR 404' -e '^http.*:$' -e '^FINISHED' \
    -e '^Total wall' -e '^Downloaded:' | sed 's/^[0-9: -]*//; s/^wget: //; s/^failed: //' | head -n 1)
  for status in $statuses; do
    [ "$status" -eq 0 ] || [ "$status" -eq 8 ] || [ -n "$cause" ] || cause="wget ended with status $status"
  done
  [ -z "$cause" ] || fail "the download stopped: $cause (the complete tiles are kept in $work)"
  missing=$(cat partial/log.* 2> /dev/null | awk '/^http.*:$/ { url = $0 }
    /ERROR 404/ { if (url ~ /\/turist\//) base++; else overlay++ } END { print base + 0, overlay + 0 }')
  missing_bases=${missing% *} missing_overlays=${missing#* }
  keep_complete_tiles
  rm -rf partial
  phase_line "download $total of $total tile files, $missing_bases base and $missing_overlays overlay tiles missing"
}

# ---- Merge, join, conversions --------------------------------------------------

merged() { find tg -name 'aa_*.pnm' 2> /dev/null | wc -l; }

# rastrel-merge on the tiles, --jobs processes at once, a few thousand tiles each.
merge() {
  mkdir -p partial
  tr -d '\r' < do_merge.cmd | sed 's/^@call merge_fn\.cmd //' > partial/tiles
  total=$(($(wc -l < partial/tiles) + 0))
  size=$(((total + jobs - 1) / jobs))
  [ "$size" -le 2000 ] || size=2000
  awk -v size="$size" '{ print > ("partial/merge." int((NR - 1) / size)) }' partial/tiles
  show_progress merge "$total" merged
  set -- partial/merge.*
  while [ $# -gt 0 ]; do
    started=0
    while [ $# -gt 0 ] && [ "$started" -lt "$jobs" ]; do
      # shellcheck disable=SC2046  # the tiles, one word each
      "$bin/rastrel-merge" $(cat "$1") 2>> partial/notes &
      pids="$pids $!" started=$((started + 1))
      shift
    done
    wait_jobs
    for status in $statuses; do
      [ "$status" -eq 0 ] || { cat partial/notes >&2; fail "merging the tiles failed"; }
    done
  done
  phase_line "merge $total of $total tiles"
  cat partial/notes >&2
  rm -rf partial
}

join_tiles() {
  rm -f conv.cmd
  "$bin/rastrel2" "$@" "$name" > /dev/null || fail "rastrel2 failed"
  tr -d '\r' < conv.cmd | grep '^pnmcat' | sh -e || fail "joining the tiles failed"
  pnmtopng temp.pnm > "$name.png" || fail "pnmtopng failed"
  rm -rf conv.cmd temp.pnm line_*.pnm tg
  mv -f "$name.png" "$name.map" "$here/" || fail "cannot move $name.png and $name.map into $here"
  phase_line "join $name.png, $((columns * 256)) x $((rows * 256)) pixels, and $name.map"
}

# gdal_translate into the work folder, then into place, so that no half-made file stands under the name.
convert_map() {  # ENDING GDAL_TRANSLATE_OPTIONS...
  ending=$1
  shift
  cd "$here" || fail "cannot return to $here"
  gdal_translate -q "$@" "$name.map" "$work/$name.$ending" || fail "gdal_translate failed for $name.$ending"
  if [ "$ending" = mbtiles ]; then gdaladdo -q "$work/$name.$ending" || fail "gdaladdo failed for $name.mbtiles"; fi
  mv -f "$work/$name.$ending" "$name.$ending" || fail "cannot move $name.$ending into $here"
  cd "$work" || fail "cannot enter $work"
  phase_line "made $name.$ending"
}

say "keys $* ($columns x $rows tiles)"
mkdir -p "$work" || fail "cannot make the work folder $work"
cd "$work" || fail "cannot enter the work folder $work"
"$bin/rastrel1" "$@" > /dev/null || fail "rastrel1 failed"
download
merge
join_tiles "$@"
[ "$geotiff" -eq 0 ] || convert_map tif -of GTiff -co COMPRESS=DEFLATE
[ "$mbtiles" -eq 0 ] || convert_map mbtiles -of MBTiles -co RESAMPLING=NEAREST
rm -f wget_map.dat wget_cyk.dat wget_tur.dat do_merge.cmd
trap - INT TERM
if [ "$missing_bases$missing_overlays" = 00 ]; then
  say "$name.png and $name.map made from $((columns * rows)) tiles"
else
  say "$name.png and $name.map made from $((columns * rows)) tiles; $missing_bases base and $missing_overlays overlay" \
    "tiles were missing on the server (white where a base is missing), running again fetches them"
fi
