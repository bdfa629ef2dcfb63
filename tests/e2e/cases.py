"""The end-to-end cases of the programs, as tables. Every expected byte is
written out here, never computed by the programs' code; only the fatal
report's code address is matched by pattern."""
import struct
import zlib
from pathlib import Path

DIR, FULL = "<directory>", ("link", "/dev/full")
HOST, BUFFER_SIZE = "tiles.example.com", 128  # the build's, set by all_cases()
BANNERS = {"rastrel1": "Rastrel 1 - seznamy dlazdic ke stazeni a skript pro jejich slouceni",
           "rastrel2": "Rastrel 2 - skript pro slepeni dlazdic a kalibrace mapy"}
USAGE = {"rastrel1": b"rastrel xstart xstop ystart ystop\r\n", "rastrel2": b"rastrel xstart xstop ystart ystop name\r\n"}
INSTRUCTION = 'Zadej souradnice ve tvaru ????000h (napr. 7eb1000h jako "7eb1")'
KEY_PROMPTS = b"X pocatek: X konec: Y pocatek: Y konec: "
DONE, MAP_PROGRESS = b"Hotovo.", b"Generuji MAP soubor...\r\n"
INVALID, DENIED = ("EInOutError", "Invalid filename"), ("EInOutError", "File access denied")
TOO_MANY = ("EInOutError", "Too many open files")
EMPTY_GRID = ("EGridError", "Empty tile grid: a stop key is lower than its start key")
NO_FSIZE, NO_NOFILE = {"posix": "file-size limits are POSIX"}, {"posix": "no open-file limit to set under Wine"}
REMOVE_CWD = ["sh", "-c", 'mkdir gone && cd gone && rmdir ../gone && exec "$@"', "sh"]


def crlf(*lines):
    return b"".join(line.encode("latin-1") + b"\r\n" for line in lines)


def grid(x, y):
    return f"Generuji seznam z {x}x{y} vyrezu...\r\n".encode()


def bad_key(text):
    return ("EConvertError", f"'${text}' is not a valid integer value")


class Case:
    """One run. `out` None: standard output is a pipe nobody reads; `files`: the whole directory afterwards (None:
    as before); `limits`: as {"NOFILE": 6}; `wrap`: a POSIX command that starts the program; `command_line`: typed
    at the Windows prompt; `argv0`: the program's name as its starter gives it (POSIX; Windows asks the system);
    `needs`: "posix" or "windows", "dev_full" (/dev/full), a "static" program, an "unsanitized" build, each with the
    reason."""
    DEFAULTS = dict(args=(), stdin=b"", out=b"", stderr=b"", fatal=None, files=None, setup=lambda work: None, limits={}, wrap=[],
                    command_line=None, argv0=None, needs={})

    def __init__(self, name, **given):
        self.__dict__.update(self.DEFAULTS, name=name, **given)
        self.args = self.args.split() if isinstance(self.args, str) else list(self.args)
        self.status = 1 if self.fatal else 0
        if self.command_line is not None:
            self.needs = {"windows": "Windows command-line splitting only"}

    def expected_stderr(self, program_file):
        """The report, with its code address as XXXXXXXX."""
        if not self.fatal:
            return self.stderr
        return f"Exception {self.fatal[0]} in module {program_file} at XXXXXXXX.\r\n{self.fatal[1]}.\r\n\r\n".encode(
            "latin-1")


def write_files(contents):
    def setup(work):
        for name, value in contents.items():
            path = Path(work, name)
            path.parent.mkdir(parents=True, exist_ok=True)
            if value == DIR:
                path.mkdir()
            elif isinstance(value, tuple):
                path.symlink_to(value[1])
            else:
                path.write_bytes(value)
    return setup


def common_cases(program):
    """Front-end cases both programs share."""
    count = 4 if program == "rastrel1" else 5
    name = [] if program == "rastrel1" else ["m"]
    head = crlf(BANNERS[program], INSTRUCTION) + b"X pocatek: "
    return [Case(f"usage with {n} arguments", args=["7eb1"] * n, stdin=b"7eb1\n", out=USAGE[program])
            for n in (count - 1, count + 1)] + [
        Case("dialogue: bad key stops the prompts", stdin=b"7eb1\n7eg1\n8041\n8051\nm\n", out=head + b"X konec: ",
             fatal=bad_key("7eg1")),
        Case("standard input a directory", stdin=DIR, out=head, fatal=DENIED,
             needs={"posix": "a directory cannot be standard input under Wine"}),
        Case("standard output a pipe nobody reads", args=["7eb1", "7ec1", "8041", "8051"] + name, out=None,
             fatal=("EInOutError", "I/O error 32"), needs={"posix": "EPIPE is a POSIX error"}),
        *[Case(f"started as {argv0!r}: named by its own file", args=["zz", "1", "1", "1"] + name, argv0=argv0,
               fatal=bad_key("zz")) for argv0 in ("", "somewhere/")],
        Case("empty arguments skipped, first bad key named", args=["", "7eb1", "", "7eg1", "zz", "8051"] + name + [""],
             fatal=bad_key("7eg1")),
        Case("dialogue: 64 MB line beyond the address space", stdin=b"7" * (64 << 20), limits={"AS": 48 << 20},
             out=head, fatal=("EOutOfMemory", "Out of memory"),
             needs={"posix": "no address-space limit to set under Wine",
                    "unsanitized": "the sanitizers reserve far more address space than the limit"}),
        Case("report converted to the OEM code page", args=["7\u00e9b1", "7ec1", "8041", "8051"] + name,
             fatal=bad_key("7\x82b1"), needs={"windows": "only Windows has an OEM code page"}),
    ]


# ---- rastrel1 ---------------------------------------------------------

def lists(*pairs):
    """The four files for tiles given as "x_y" label pairs, in file order;
    every line is lower-cased whole, the host too."""
    host = HOST.lower()
    return {"wget_map.dat": crlf(*[f"http://{host}/turist/13_{p}" for p in pairs]),
            "wget_cyk.dat": crlf(*[f"http://{host}/tcyklo/13_{p}" for p in pairs]),
            "wget_tur.dat": crlf(*[f"http://{host}/ttur/13_{p}" for p in pairs]),
            "do_merge.cmd": crlf(*[f"@call merge_fn.cmd {p}" for p in pairs])}


EXAMPLE_PAIRS = [f"{x}_{y}" for x in ["7eb1000", "7eb9000", "7ec1000"] for y in ["8041000", "8049000", "8051000"]]
BLOCKS = [  # name, keys, tile counts, tiles as "x_y" label pairs in file order
    ("example block", "7eb1 7ec1 8041 8051", (3, 3), EXAMPLE_PAIRS),
    ("step back below 8 is one tile", "7eb1 7eaa 8041 8041", (1, 1), ["7eb1000_8041000"]),
]


def rastrel1_cases():
    example = "7eb1 7ec1 8041 8051"
    return [Case(n, args=keys, out=grid(*counts) + DONE, files=lists(*pairs)) for n, keys, counts, pairs in BLOCKS] + [
        Case("directory where the second file must go", args=example, out=grid(3, 3),
             setup=write_files({"wget_cyk.dat": DIR}), fatal=DENIED, files={"wget_map.dat": b"", "wget_cyk.dat": DIR}),
        # Each file's bytes reach it when its buffer fills; the others' are
        # written out when the failure ends the run.
        Case("full disk under do_merge.cmd", args=example, out=grid(3, 3), setup=write_files({"do_merge.cmd": FULL}),
             fatal=("EInOutError", "I/O error 28"),
             needs={"dev_full": "no /dev/full to link to here (or the program runs under Wine)"},
             files={**lists(*EXAMPLE_PAIRS[:4] if BUFFER_SIZE == 128 else EXAMPLE_PAIRS), "do_merge.cmd": FULL}),
        Case("too few file descriptors for the fourth file", args=example, out=grid(3, 3), limits={"NOFILE": 6},
             fatal=TOO_MANY, files={"wget_map.dat": b"", "wget_cyk.dat": b"", "wget_tur.dat": b""},
             needs={**NO_NOFILE, "unsanitized": "the sanitizer runtime needs descriptors of its own (pipe2) to check"
                    " the report"}),
        Case("current directory removed", args=example, out=grid(3, 3), wrap=REMOVE_CWD, fatal=INVALID, files={},
             needs={"posix": "Windows cannot remove a directory in use"}),
    ]


# ---- rastrel2 ---------------------------------------------------------

def conv(name, columns, rows):
    """conv.cmd's block for x labels west to east and y labels north to south."""
    lines = ["pnmcat -lr " + "".join(f"tg/aa_{x}_{y}.pnm " for x in columns) + f"> line_{y}.pnm" for y in rows]
    return crlf(*lines, "pnmcat -tb " + "".join(f"line_{y}.pnm " for y in rows) + "> temp.pnm ",
                f'"c:\\program files\\irfanview\\i_view32.exe" temp.pnm /bpp=8 /convert={name}.png',
                "@del temp.pnm", "@del line_*.pnm")


def map_file(name, e1, n1, x2, y2, e2, n2):
    """The .map file: point 1 at pixel (0, 0) and grid (e1, n1), point 2 at
    pixel (x2, y2) and grid (e2, n2)."""
    tail = "in, deg,    ,        ,N,    ,        ,W, grid"
    return crlf(
        "OziExplorer Map Data File Version 2.2", name, name + ".png", "1 ,Map Code,",
        "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84", "Reserved 1", "Reserved 2", "Magnetic Variation,,,E",
        "Map Projection,(UTM) Universal Transverse Mercator,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No",
        f"Point01,xy,    0,    0,{tail}, 33,{e1:11d},{n1:11d},N", f"Point02,xy,{x2:5d},{y2:5d},{tail}, 33,{e2:11d},{n2:11d},N",
        *[f"Point{n:02d},xy,     ,     ,{tail},   ,           ,           ,N" for n in range(3, 31)],
        "Projection Setup,,,,,,,,,,", "Map Feature = MF ; Map Comment = MC     These follow if they exist",
        "Track File = TF      These follow if they exist", "Moving Map Parameters = MM?    These follow if they exist")


ONE = (451424, 5503648, 255, 255, 452448, 5502624)  # the calibration of tile 7eb1 8041
ONE_CONV = conv("one", ["7eb1000"], ["8041000"])
MOSAICS = [  # name, arguments, tile counts, x labels, y labels north first, calibration
    ("unaligned range: calibration follows the image", ["7eb1", "7eb5", "8041", "804f", "un"], (1, 2), ["7eb1000"],
     ["8049000", "8041000"], (451424, 5504672, 255, 511, 452448, 5502624)),
    ("key below 1000 is zero-padded", ["123", "12b", "8", "8", "low"], (2, 1), ["0123000", "012b000"], ["0008000"],
     (-3662752, 1302048, 511, 255, -3660704, 1301024)),
    ("walk wraps past the largest key: calibration follows the image", ["7ffffff8", "80000000", "8041", "8041", "w"],
     (2, 1), ["7ffffff8000", "80000000000"], ["8041000"], (274874205920, 5503648, 511, 255, 274874207968, 5502624)),
]
# Typed at the Windows prompt: quoted and bare pieces that touch join, empty arguments are skipped.
QUOTED = '"" 7e"b1"  ""  7eb1 80"41"\t8041 "My "Map ""'


def rastrel2_cases():
    example, one = "7eb1 7ec1 8041 8051 test", "7eb1 7eb1 8041 8041 one"
    dialogue = crlf(BANNERS["rastrel2"], INSTRUCTION) + KEY_PROMPTS + b"Nazev mapy: " + grid(1, 1)
    return [Case(n, args=a, out=grid(*c) + MAP_PROGRESS + DONE, files={"conv.cmd": conv(a[4], x, y),
                                                                     a[4] + ".map": map_file(a[4], *p)})
            for n, a, c, x, y, p in MOSAICS] + [
        Case(f"quoted: {QUOTED}", command_line=QUOTED, out=grid(1, 1) + MAP_PROGRESS + DONE,
             files={"conv.cmd": conv("My Map", ["7eb1000"], ["8041000"]), "My Map.map": map_file("My Map", *ONE)}),
        Case("refused: empty grid on x", args="7ec1 7eb9 8041 8051 test", out=grid(0, 3), fatal=EMPTY_GRID),
        Case("second run appends after the first block; .map truncated", args=example,
             out=grid(3, 3) + MAP_PROGRESS + DONE, setup=write_files({"conv.cmd": ONE_CONV, "test.map": b"old\r\n" * 999}),
             files={"conv.cmd": ONE_CONV + conv("test", ["7eb1000", "7eb9000", "7ec1000"], ["8051000", "8049000", "8041000"]),
                    "test.map": map_file("test", 451424, 5505696, 767, 767, 454496, 5502624)}),
        Case("empty map name at the end of the dialogue input", stdin=b"7eb1\n7eb1\n8041\n8041\n",
             out=dialogue + MAP_PROGRESS + DONE,
             files={"conv.cmd": conv("", ["7eb1000"], ["8041000"]), ".map": map_file("", *ONE)}),
        Case("refused: NUL typed into the map name", stdin=b"7eb1\n7eb1\n8041\n8041\nconv.cmd\0x\n", out=dialogue,
             setup=write_files({"conv.cmd": b"keep\r\n"}), fatal=INVALID),
        Case("too few file descriptors for conv.cmd", args=example, out=grid(3, 3), limits={"NOFILE": 3},
             fatal=TOO_MANY, needs={**NO_NOFILE, "static": "a dynamic program's loader needs a descriptor first"}),
        Case("file-size limit cuts conv.cmd's last bytes; no .map", args=one, out=grid(1, 1), limits={"FSIZE": 196},
             fatal=("EInOutError", "I/O error 27"), files={"conv.cmd": ONE_CONV[:196]}, needs=NO_FSIZE),
    ]


# ---- rastrel-merge ----------------------------------------------------

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(colour_type, depth, rows, extra=b""):
    """A PNG of `rows` (bytes without the filter byte); `extra` is PLTE and tRNS, already chunks."""
    header = struct.pack(">IIBBBBB", 256, len(rows), depth, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra +
            chunk(b"IDAT", zlib.compress(b"".join(b"\0" + row for row in rows))) + chunk(b"IEND", b""))


def image(pixel, encode=bytes):
    return [b"".join(encode(pixel(x, y)) for x in range(256)) for y in range(256)]


def base_rgb(x, y):
    return x, y, (x + y) & 255


def over_rgba(x, y):
    return 255 - x, 7, y, (3 * x + y) & 255


WIDE = lambda v: bytes(w for c in v for w in (c, 0x5A))  # 16-bit samples: the decoder keeps the high byte
PALETTE = [(i, 255 - i, i // 2) for i in range(256)]
BASES = {  # tile: its base PNG, and the RGB it stands for
    "1_1": (png(2, 8, image(base_rgb)), base_rgb),
    "1_2": (png(6, 8, image(lambda x, y: (*base_rgb(x, y), x))), base_rgb),  # the base's alpha is ignored
    "1_3": (png(0, 8, image(lambda x, y: (x ^ y,))), lambda x, y: (x ^ y,) * 3),
    "1_4": (png(4, 8, image(lambda x, y: (x, y))), lambda x, y: (x,) * 3),
    "1_5": (png(2, 16, image(base_rgb, WIDE)), base_rgb),
}


def plte_chunks(alpha=None):
    return chunk(b"PLTE", bytes(c for rgb in PALETTE for c in rgb)) + (chunk(b"tRNS", bytes(alpha)) if alpha else b"")


BASES["1_6"] = (png(3, 8, image(lambda x, y: ((x + 2 * y) & 255,)), extra=plte_chunks()),
                lambda x, y: PALETTE[(x + 2 * y) & 255])
OVERLAYS = {  # tile: its overlay PNG, and the RGBA it stands for
    "2_1": (png(6, 8, image(over_rgba)), over_rgba),
    "2_2": (png(6, 16, image(over_rgba, WIDE)), over_rgba),
    "2_3": (png(4, 8, image(lambda x, y: (x, y))), lambda x, y: (x, x, x, y)),
    "2_4": (png(3, 8, image(lambda x, y: (x,)), extra=plte_chunks(range(255, -1, -1))),
            lambda x, y: (*PALETTE[x], 255 - x)),
    "2_5": (png(2, 8, image(lambda x, y: (x, 0, 0))), lambda x, y: (x, 0, 0, 255)),  # no alpha: opaque
}


def ppm(pixel):
    return b"P6\n256 256\n255\n" + b"".join(bytes(row) for row in image(pixel))


def laid_over(under, *overs):
    def pixel(x, y):
        colour = under(x, y)
        for over in overs:
            *c, a = over(x, y)
            colour = [(o * a + u * (255 - a) + 127) // 255 for o, u in zip(c, colour)]
        return colour
    return pixel


def tile_files(layers):
    """{tile: (base, cyk, tur)} PNG bytes or None, as the tile folders."""
    return {f"tiles_{layer}/13_{tile}": data for tile, pngs in layers.items()
            for layer, data in zip(("map", "cyk", "tur"), pngs) if data is not None}


TRUNCATED = BASES["1_1"][0][:3000]
HUGE = png(2, 8, [b"\0" * 3])[:16] + struct.pack(">II", 100000, 100000) + png(2, 8, [b"\0" * 3])[24:]
CORRUPT = BASES["1_1"][0][:60] + bytes(range(200)) + BASES["1_1"][0][260:]
WHITE = ppm(lambda x, y: (255, 255, 255))


def merge_note(name, base=False):
    return (f"rastrel-merge: {name} is missing or not a 256 x 256 PNG, a white tile stands in\n" if base else
            f"rastrel-merge: {name} is not a 256 x 256 PNG, left out\n").encode()


def rastrel_merge_cases():
    over = OVERLAYS["2_1"][0]
    decoded = {tile: (data, None, None) for tile, (data, _) in BASES.items()}
    decoded.update({tile: (BASES["1_1"][0], data, over) for tile, (data, _) in OVERLAYS.items()})
    expected = {f"tg/aa_{tile}.pnm": ppm(rgb) for tile, (_, rgb) in BASES.items()}
    expected.update({f"tg/aa_{tile}.pnm": ppm(laid_over(base_rgb, rgba, over_rgba)) for tile, (_, rgba) in
                     OVERLAYS.items()})
    broken = {"3_1": (None, None, None), "3_2": (b"", b"", over), "3_3": (TRUNCATED, TRUNCATED, over),
              "3_4": (png(2, 8, image(base_rgb)[:255]), HUGE, None), "3_5": (BASES["1_1"][0], CORRUPT, None)}
    broken_out = {"3_1": WHITE, "3_2": ppm(laid_over(lambda x, y: (255,) * 3, over_rgba)),
                  "3_3": ppm(laid_over(lambda x, y: (255,) * 3, over_rgba)), "3_4": WHITE, "3_5": ppm(base_rgb)}
    one = write_files({"tiles_map/13_a_b": BASES["1_1"][0]})
    return [
        Case("every colour type and depth", args=list(decoded), setup=write_files(tile_files(decoded)),
             files={**tile_files(decoded), **expected}),
        Case("missing, empty, truncated, oversized and corrupt layers", args=list(broken),
             setup=write_files(tile_files(broken)),
             stderr=b"".join([merge_note("tiles_map/13_3_1", True), merge_note("tiles_map/13_3_2", True),
                              merge_note("tiles_map/13_3_3", True), merge_note("tiles_cyk/13_3_3"),
                              merge_note("tiles_map/13_3_4", True), merge_note("tiles_cyk/13_3_4"),
                              merge_note("tiles_cyk/13_3_5")]),
             files={**tile_files(broken), **{f"tg/aa_{t}.pnm": data for t, data in broken_out.items()}}),
        Case("usage", out=b"rastrel-merge X_Y...\n"),
        Case("refused: a tile name that is not X_Y, before any file", args=["a_b", "../a_b"],
             fatal=("EConvertError", "'../a_b' is not a tile such as 7eb1000_8041000"), setup=one),
        Case("a folder where the tile image must go", args=["a_b"], fatal=DENIED,
             setup=write_files({"tiles_map/13_a_b": BASES["1_1"][0], "tg/aa_a_b.pnm": DIR})),
        Case("full disk under the tile image", args=["a_b"], fatal=("EInOutError", "I/O error 28"),
             setup=write_files({"tiles_map/13_a_b": BASES["1_1"][0], "tg/aa_a_b.pnm.tmp": FULL}),
             files={"tiles_map/13_a_b": BASES["1_1"][0], "tg": DIR},
             needs={"dev_full": "no /dev/full to link to here (or the program runs under Wine)"}),
    ]


def all_cases(program, host, buffer_size):
    global HOST, BUFFER_SIZE
    HOST, BUFFER_SIZE = host, buffer_size
    if program == "rastrel-merge":
        return rastrel_merge_cases()
    return common_cases(program) + (rastrel1_cases() if program == "rastrel1" else rastrel2_cases())
