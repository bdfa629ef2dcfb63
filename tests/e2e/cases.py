"""The end-to-end cases of both programs, as tables.

Every expected byte is written out here, never computed by the programs'
code: console texts, file lines with their CR LF, the fatal report (its code
address is the only part matched by pattern).
"""
import os

DIR = "<directory>"
HOST = "tiles.example.com"  # replaced by the build's host in all_cases()
BUFFER_SIZE = 128  # replaced by the build's file buffer size in all_cases()

BANNERS = {
    "rastrel1": "Rastrel 1 - seznamy dlazdic ke stazeni a skript pro jejich slouceni",
    "rastrel2": "Rastrel 2 - skript pro slepeni dlazdic a kalibrace mapy",
}
USAGE = {
    "rastrel1": b"rastrel xstart xstop ystart ystop\r\n",
    "rastrel2": b"rastrel xstart xstop ystart ystop name\r\n",
}
INSTRUCTION = 'Zadej souradnice ve tvaru ????000h (napr. 7eb1000h jako "7eb1")'
KEY_PROMPTS = b"X pocatek: X konec: Y pocatek: Y konec: "


def crlf(*lines):
    return b"".join(line.encode("latin-1") + b"\r\n" for line in lines)


def grid(x, y):
    return f"Generuji seznam z {x}x{y} vyrezu...\r\n".encode()


DONE = b"Hotovo."
MAP_PROGRESS = b"Generuji MAP soubor...\r\n"


class Case:
    def __init__(self, name, args=None, stdin=b"", out=b"", fatal=None, files=None, setup=None, stdout="pipe",
                 limits=None, remove_cwd=False, posix_only=None, windows_only=None, command_line=None,
                 unsanitized_only=None, static_only=None):
        self.name = name
        self.args = args
        self.stdin = stdin
        self.out = out
        self.fatal = fatal  # (class name, message) of the expected report
        self.status = 1 if fatal else 0
        self.files = files  # the whole directory afterwards; None: as before the run
        self.setup = setup
        self.stdout = stdout  # "pipe", "closed", "full" or "broken pipe"
        self.limits = limits or {}  # resource limits of the run, as {"NOFILE": 6}
        self.remove_cwd = remove_cwd
        self.posix_only = posix_only  # why the case cannot run on Windows
        self.windows_only = windows_only or (command_line is not None and "Windows command-line splitting only")
        self.command_line = command_line  # typed at the Windows prompt after the program name
        self.unsanitized_only = unsanitized_only  # why the case cannot run under sanitizers
        self.static_only = static_only  # why the case needs a statically linked program

    def expected_stderr(self, program_file):
        """The report with its code address as XXXXXXXX, cut at 1023 bytes."""
        if not self.fatal:
            return b""
        cls, message = self.fatal
        period = "" if not message or message.endswith(".") else "."
        report = f"Exception {cls} in module {program_file} at XXXXXXXX.\r\n{message}{period}\r\n"
        return report.encode("latin-1")[:1023] + b"\r\n"

    def skip_reason(self, windows, sanitized, dynamic):
        if sanitized and self.unsanitized_only:
            return self.unsanitized_only
        if dynamic and self.static_only:
            return self.static_only
        if windows and self.posix_only:
            return self.posix_only
        if not windows and self.windows_only:
            return self.windows_only
        return None


def bad_key(text):
    return ("EConvertError", f"'${text}' is not a valid integer value")


FULL_DISK = ("EInOutError", "I/O error 28")
FILE_TOO_BIG = ("EInOutError", "I/O error 27")


def write_files(contents):
    def setup(work):
        for name, value in contents.items():
            path = os.path.join(work, name)
            if value == DIR:
                os.mkdir(path)
            elif isinstance(value, tuple):
                os.symlink(value[1], path)
            else:
                with open(path, "wb") as f:
                    f.write(value)
    return setup


LONG_LINE = b"7" * (64 << 20)


def common_cases(program):
    """Front-end cases both programs share."""
    usage = USAGE[program]
    count = 4 if program == "rastrel1" else 5
    name = [] if program == "rastrel1" else ["m"]
    example = ["7eb1", "7ec1", "8041", "8051"] + name
    dialogue_head = crlf(BANNERS[program], INSTRUCTION)
    cases = [Case(f"usage with {n} arguments", args=["7eb1"] * n, out=usage) for n in (1, 3, 4, 5, 6) if n != count]
    cases += [
        Case("usage ignores standard input", args=["a", "b"], stdin=b"7eb1\n", out=usage),
        Case("bad key: first one named", args=["7eg1", "zz", "8041", "8051"] + name, fatal=bad_key("7eg1")),
        Case("bad key: fourth", args=["7eb1", "7ec1", "8041", "8051h"] + name, fatal=bad_key("8051h")),
        Case("bad key: leading blank", args=["7eb1", " 7ec1", "8041", "8051"] + name, fatal=bad_key(" 7ec1")),
        Case("dialogue: bad key stops the prompts", args=[], stdin=b"7eb1\n7eg1\n8041\n8051\nm\n",
             out=dialogue_head + b"X pocatek: X konec: ", fatal=bad_key("7eg1")),
        Case("dialogue: end of input at the first prompt", args=[], stdin=b"",
             out=dialogue_head + b"X pocatek: ", fatal=bad_key("")),
        Case("dialogue: 1A ends the input", args=[], stdin=b"7eb1\n7e\x1ac1\n8041\n",
             out=dialogue_head + b"X pocatek: X konec: Y pocatek: ", fatal=bad_key("")),
        Case("dialogue: blank typed after a key", args=[], stdin=b"7eb1 \r\n",
             out=dialogue_head + b"X pocatek: ", fatal=bad_key("7eb1 ")),
        Case("dialogue: 64 MB line, report cut at 1023 bytes", args=[], stdin=LONG_LINE,
             out=dialogue_head + b"X pocatek: ", fatal=bad_key("7" * 1100)),
        Case("dialogue: 64 MB line beyond the address space", args=[], stdin=LONG_LINE, limits={"AS": 48 << 20},
             out=dialogue_head + b"X pocatek: ", fatal=("EOutOfMemory", "Out of memory"),
             posix_only="no address-space limit to set under Wine",
             unsanitized_only="the sanitizers reserve far more address space than the limit"),
        Case("closed standard output", args=example, stdout="closed",
             fatal=("EInOutError", "I/O error 9"), posix_only="no closed standard handle under Wine"),
        Case("full standard output", args=example, stdout="full",
             fatal=("EInOutError", "I/O error 28"), posix_only="/dev/full is a Linux device"),
        Case("standard output a pipe nobody reads", args=example,
             stdout="broken pipe", fatal=("EInOutError", "I/O error 32"), posix_only="EPIPE is a POSIX error"),
        Case("full standard output at the usage line", args=["7eb1"], stdout="full",
             fatal=("EInOutError", "I/O error 28"), posix_only="/dev/full is a Linux device"),
        Case("bad key with a non-ASCII byte is quoted as it came", args=["7\u00e9b1", "7ec1", "8041", "8051"] + name,
             fatal=bad_key("7\u00c3\u00a9b1"), posix_only="Windows converts the report to the OEM code page"),
        Case("report converted to the OEM code page", args=["7\u00e9b1", "7ec1", "8041", "8051"] + name,
             fatal=bad_key("7\x82b1"), windows_only="only Windows has an OEM code page"),
        Case("empty arguments are skipped", args=["", "7eb1", "", "7eg1", "8041", "8051"] + name + [""],
             fatal=bad_key("7eg1")),
    ]
    return cases


# ---- rastrel1 ---------------------------------------------------------

LIST_NAMES = ["wget_map.dat", "wget_cyk.dat", "wget_tur.dat", "do_merge.cmd"]
FULL = ("link", "/dev/full")


def lists(*pairs):
    """The four files for tiles given as "x_y" label pairs, in file order."""
    return {
        "wget_map.dat": crlf(*[f"http://{HOST}/turist/13_{p}" for p in pairs]),
        "wget_cyk.dat": crlf(*[f"http://{HOST}/tcyklo/13_{p}" for p in pairs]),
        "wget_tur.dat": crlf(*[f"http://{HOST}/ttur/13_{p}" for p in pairs]),
        "do_merge.cmd": crlf(*[f"@call merge_fn.cmd {p}" for p in pairs]),
    }


EXAMPLE_PAIRS = [
    "7eb1000_8041000", "7eb1000_8049000", "7eb1000_8051000",
    "7eb9000_8041000", "7eb9000_8049000", "7eb9000_8051000",
    "7ec1000_8041000", "7ec1000_8049000", "7ec1000_8051000",
]


def rastrel1_cases():
    example = ["7eb1", "7ec1", "8041", "8051"]
    ok = grid(3, 3) + DONE
    dialogue_out = crlf(BANNERS["rastrel1"], INSTRUCTION) + KEY_PROMPTS + ok
    empty = {name: b"" for name in LIST_NAMES}
    return [
        Case("example block", args=example, out=ok, files=lists(*EXAMPLE_PAIRS)),
        Case("example block through the dialogue", args=[], stdin=b"7eb1\n7ec1\r\n8041\n8051",
             out=dialogue_out, files=lists(*EXAMPLE_PAIRS)),
        Case("one tile", args=["7eb1", "7eb1", "8041", "8041"], out=grid(1, 1) + DONE,
             files=lists("7eb1000_8041000")),
        Case("unaligned stops 7eb1 to 7ec0", args=["7eb1", "7ec0", "8041", "8041"], out=grid(2, 1) + DONE,
             files=lists("7eb1000_8041000", "7eb9000_8041000")),
        Case("unaligned stops 7eb1 to 7eb5", args=["7eb1", "7eb5", "8041", "8047"], out=grid(1, 1) + DONE,
             files=lists("7eb1000_8041000")),
        Case("step back below 8 is one tile", args=["7eb1", "7eaa", "8041", "8041"], out=grid(1, 1) + DONE,
             files=lists("7eb1000_8041000")),
        Case("reversed x range: empty files", args=["7ec1", "7eb1", "8041", "8051"], out=grid(-1, 3) + DONE,
             files=empty),
        Case("reversed y range by 8: count 0", args=["7eb1", "7ec1", "8049", "8041"], out=grid(3, 0) + DONE,
             files=empty),
        Case("key below 1000 is zero-padded", args=["123", "12b", "8", "8"], out=grid(2, 1) + DONE,
             files=lists("0123000_0008000", "012b000_0008000")),
        Case("keys above FFFF print all digits", args=["12345", "12345", "ffff8", "100000"],
             out=grid(1, 2) + DONE, files=lists("12345000_ffff8000", "12345000_100000000")),
        Case("negative keys", args=["FFFFFFF0", "fffffff8", "0", "0"], out=grid(2, 1) + DONE,
             files=lists("fffffff0000_0000000", "fffffff8000_0000000")),
        Case("walk wraps past the largest key", args=["7ffffff8", "80000000", "0", "0"], out=grid(2, 1) + DONE,
             files=lists("7ffffff8000_0000000", "80000000000_0000000")),
        Case("upper case and leading zeros", args=["7EB1", "00007EB9", "0000000000008041", "8041"],
             out=grid(2, 1) + DONE, files=lists("7eb1000_8041000", "7eb9000_8041000")),
        Case("existing longer files truncated", args=["7eb1", "7eb1", "8041", "8041"], out=grid(1, 1) + DONE,
             setup=write_files({name: b"old line\r\n" * 50 for name in LIST_NAMES}),
             files=lists("7eb1000_8041000")),
        Case("directory where the second file must go", args=example, out=grid(3, 3),
             setup=write_files({"wget_cyk.dat": DIR}), fatal=("EInOutError", "File access denied"),
             files={"wget_map.dat": b"", "wget_cyk.dat": DIR}),
        Case("full disk under do_merge.cmd", args=example, out=grid(3, 3),
             setup=write_files({"do_merge.cmd": FULL}), fatal=FULL_DISK,
             # Each file's bytes reach it when its buffer fills; the others are
             # written out when the failure ends the run.
             files={**lists(*EXAMPLE_PAIRS[:4] if BUFFER_SIZE == 128 else EXAMPLE_PAIRS), "do_merge.cmd": FULL},
             posix_only="/dev/full is a Linux device"),
        Case("full disk at the last flush of do_merge.cmd", args=["7eb1", "7eb1", "8041", "8041"], out=grid(1, 1),
             setup=write_files({"do_merge.cmd": FULL}), fatal=FULL_DISK,
             files={**lists("7eb1000_8041000"), "do_merge.cmd": FULL}, posix_only="/dev/full is a Linux device"),
        Case("too few file descriptors for the fourth file", args=example, out=grid(3, 3), limits={"NOFILE": 6},
             fatal=("EInOutError", "Too many open files"),
             files={"wget_map.dat": b"", "wget_cyk.dat": b"", "wget_tur.dat": b""},
             posix_only="no open-file limit to set under Wine",
             unsanitized_only="the sanitizer runtime needs descriptors of its own (pipe2) to check the report"),
        Case("current directory removed", args=example, out=grid(3, 3), remove_cwd=True,
             fatal=("EInOutError", "Invalid filename"), files={},
             posix_only="Windows cannot remove a directory in use"),
    ]


# ---- rastrel2 ---------------------------------------------------------

EXAMPLE_BLOCK = crlf(
    "pnmcat -lr tg/aa_7eb1000_8051000.pnm tg/aa_7eb9000_8051000.pnm tg/aa_7ec1000_8051000.pnm > line_8051000.pnm",
    "pnmcat -lr tg/aa_7eb1000_8049000.pnm tg/aa_7eb9000_8049000.pnm tg/aa_7ec1000_8049000.pnm > line_8049000.pnm",
    "pnmcat -lr tg/aa_7eb1000_8041000.pnm tg/aa_7eb9000_8041000.pnm tg/aa_7ec1000_8041000.pnm > line_8041000.pnm",
    "pnmcat -tb line_8051000.pnm line_8049000.pnm line_8041000.pnm > temp.pnm ",
    '"c:\\program files\\irfanview\\i_view32.exe" temp.pnm /bpp=8 /convert=test.png',
    "@del temp.pnm",
    "@del line_*.pnm",
)


def conversion_tail(name):
    return crlf(f'"c:\\program files\\irfanview\\i_view32.exe" temp.pnm /bpp=8 /convert={name}.png',
                "@del temp.pnm", "@del line_*.pnm")


ONE_TILE_BLOCK = crlf(
    "pnmcat -lr tg/aa_7eb1000_8041000.pnm > line_8041000.pnm",
    "pnmcat -tb line_8041000.pnm > temp.pnm ",
)


def point(n, px, py, easting, northing):
    return (f"Point{n:02d},xy,{px:5d},{py:5d},in, deg,    ,        ,N,    ,        ,W, grid, 33,"
            f"{easting:11d},{northing:11d},N")


def map_file(name, point1, point2):
    return crlf(
        "OziExplorer Map Data File Version 2.2", name, name + ".png", "1 ,Map Code,",
        "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84", "Reserved 1", "Reserved 2", "Magnetic Variation,,,E",
        "Map Projection,(UTM) Universal Transverse Mercator,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No",
        point1, point2,
        *[f"Point{n:02d},xy,     ,     ,in, deg,    ,        ,N,    ,        ,W, grid,   ,           ,           ,N"
          for n in range(3, 31)],
        "Projection Setup,,,,,,,,,,",
        "Map Feature = MF ; Map Comment = MC     These follow if they exist",
        "Track File = TF      These follow if they exist",
        "Moving Map Parameters = MM?    These follow if they exist",
    )


EXAMPLE_MAP = map_file(
    "test",
    "Point01,xy,    0,    0,in, deg,    ,        ,N,    ,        ,W, grid, 33,     451424,    5505696,N",
    "Point02,xy,  767,  767,in, deg,    ,        ,N,    ,        ,W, grid, 33,     454496,    5502624,N")
NO_FSIZE = "file-size limits are POSIX"
ONE_TILE_CONV = ONE_TILE_BLOCK + conversion_tail("one")
ONE_TILE_MAP = map_file("one", point(1, 0, 0, 451424, 5503648), point(2, 255, 255, 452448, 5502624))


def rastrel2_cases():
    example = ["7eb1", "7ec1", "8041", "8051", "test"]
    ok = grid(3, 3) + MAP_PROGRESS + DONE
    dialogue_head = crlf(BANNERS["rastrel2"], INSTRUCTION) + KEY_PROMPTS + b"Nazev mapy: "
    unchanged_conv = {"conv.cmd": b"keep\r\n"}
    one = ["7eb1", "7eb1", "8041", "8041", "one"]
    return [
        Case("example block", args=example, out=ok, files={"conv.cmd": EXAMPLE_BLOCK, "test.map": EXAMPLE_MAP}),
        Case("example block through the dialogue", args=[], stdin=b"7eb1\n7ec1\n8041\n8051\ntest\n",
             out=dialogue_head + ok, files={"conv.cmd": EXAMPLE_BLOCK, "test.map": EXAMPLE_MAP}),
        Case("one tile", args=one, out=grid(1, 1) + MAP_PROGRESS + DONE,
             files={"conv.cmd": ONE_TILE_CONV, "one.map": ONE_TILE_MAP}),
        Case("step back below 8 is one tile", args=["7eb1", "7eaa", "8041", "803a", "one"],
             out=grid(1, 1) + MAP_PROGRESS + DONE,
             files={"conv.cmd": ONE_TILE_CONV, "one.map": ONE_TILE_MAP}),
        Case("unaligned range: calibration follows the image", args=["7eb1", "7eb5", "8041", "804f", "un"],
             out=grid(1, 2) + MAP_PROGRESS + DONE,
             files={"conv.cmd": crlf("pnmcat -lr tg/aa_7eb1000_8049000.pnm > line_8049000.pnm",
                                     "pnmcat -lr tg/aa_7eb1000_8041000.pnm > line_8041000.pnm",
                                     "pnmcat -tb line_8049000.pnm line_8041000.pnm > temp.pnm ")
                    + conversion_tail("un"),
                    "un.map": map_file("un", point(1, 0, 0, 451424, 5504672),
                                       point(2, 255, 511, 452448, 5502624))}),
        Case("far key does not wrap", args=["80000", "80000", "7fff8", "7fff8", "far"],
             out=grid(1, 1) + MAP_PROGRESS + DONE,
             files={"conv.cmd": crlf("pnmcat -lr tg/aa_80000000_7fff8000.pnm > line_7fff8000.pnm",
                                     "pnmcat -tb line_7fff8000.pnm > temp.pnm ") + conversion_tail("far"),
                    "far.map": map_file("far", point(1, 0, 0, 63408864, 68408864),
                                        point(2, 255, 255, 63409888, 68407840))}),
        Case("key below 1000 is zero-padded", args=["123", "12b", "8", "8", "low"],
             out=grid(2, 1) + MAP_PROGRESS + DONE,
             files={"conv.cmd": crlf("pnmcat -lr tg/aa_0123000_0008000.pnm tg/aa_012b000_0008000.pnm "
                                     "> line_0008000.pnm",
                                     "pnmcat -tb line_0008000.pnm > temp.pnm ") + conversion_tail("low"),
                    "low.map": map_file("low", point(1, 0, 0, -3662752, 1302048),
                                        point(2, 511, 255, -3660704, 1301024))}),
        Case("map name with blanks and upper case", args=["7eb1", "7eb1", "8041", "8041", "My Map"],
             out=grid(1, 1) + MAP_PROGRESS + DONE,
             files={"conv.cmd": ONE_TILE_BLOCK + conversion_tail("My Map"),
                    "My Map.map": map_file("My Map", point(1, 0, 0, 451424, 5503648),
                                           point(2, 255, 255, 452448, 5502624))}),
        Case("map name with percent signs", args=["7eb1", "7eb1", "8041", "8041", "%s%d%4x%"],
             out=grid(1, 1) + MAP_PROGRESS + DONE,
             files={"conv.cmd": ONE_TILE_BLOCK + conversion_tail("%s%d%4x%"),
                    "%s%d%4x%.map": map_file("%s%d%4x%", point(1, 0, 0, 451424, 5503648),
                                             point(2, 255, 255, 452448, 5502624))}),
        Case("empty map name at the end of the dialogue input", args=[], stdin=b"7eb1\n7eb1\n8041\n8041\n",
             out=dialogue_head + grid(1, 1) + MAP_PROGRESS + DONE,
             files={"conv.cmd": ONE_TILE_BLOCK + conversion_tail(""),
                    ".map": map_file("", point(1, 0, 0, 451424, 5503648), point(2, 255, 255, 452448, 5502624))}),
        Case("second run appends after the first block", args=example, out=ok,
             setup=write_files({"conv.cmd": ONE_TILE_CONV, "test.map": b"old"}),
             files={"conv.cmd": ONE_TILE_CONV + EXAMPLE_BLOCK, "test.map": EXAMPLE_MAP}),
        Case("appends after a last line without line end", args=example, out=ok,
             setup=write_files({"conv.cmd": b"@echo off\r\nrem last"}),
             files={"conv.cmd": b"@echo off\r\nrem last" + EXAMPLE_BLOCK, "test.map": EXAMPLE_MAP}),
        Case("refused: bad key", args=["7eb1", "7ec1", "8041", "80g1", "test"], setup=write_files(unchanged_conv),
             fatal=bad_key("80g1")),
        Case("refused: empty grid on x", args=["7ec1", "7eb9", "8041", "8051", "test"], out=grid(0, 3),
             setup=write_files(unchanged_conv),
             fatal=("EGridError", "Empty tile grid: a stop key is lower than its start key")),
        Case("refused: empty grid on y", args=["7eb1", "7ec1", "8051", "8041", "test"], out=grid(3, -1),
             setup=write_files(unchanged_conv),
             fatal=("EGridError", "Empty tile grid: a stop key is lower than its start key")),
        Case("refused: map name of 256 characters", args=["7eb1", "7ec1", "8041", "8051", "n" * 256],
             out=grid(3, 3), setup=write_files(unchanged_conv), fatal=("EInOutError", "Invalid filename")),
        Case("refused: map name of 252 characters (file name part over 255)",
             args=["7eb1", "7ec1", "8041", "8051", "n" * 252], out=grid(3, 3), setup=write_files(unchanged_conv),
             fatal=("EInOutError", "Invalid filename")),
        Case("refused: NUL typed into the map name", args=[], stdin=b"7eb1\n7eb1\n8041\n8041\nconv.cmd\0x\n",
             out=dialogue_head + grid(1, 1), setup=write_files(unchanged_conv),
             fatal=("EInOutError", "Invalid filename")),
        Case("refused: backslash name whose .map part is over 255", args=["7eb1", "7ec1", "8041", "8051", "a\\" + "b" * 251],
             out=grid(3, 3), setup=write_files(unchanged_conv), fatal=("EInOutError", "Invalid filename"),
             posix_only="a backslash separates folders on Windows"),
        Case("directory named conv.cmd", args=example, out=grid(3, 3), setup=write_files({"conv.cmd": DIR}),
             fatal=("EInOutError", "File access denied"), files={"conv.cmd": DIR}),
        Case("too few file descriptors for conv.cmd", args=example, out=grid(3, 3), limits={"NOFILE": 3},
             fatal=("EInOutError", "Too many open files"), posix_only="no open-file limit to set under Wine",
             static_only="a dynamic program's loader needs a descriptor before the program runs"),
        Case("conv.cmd on a full disk", args=example, out=grid(3, 3), setup=write_files({"conv.cmd": FULL}),
             fatal=FULL_DISK, files={"conv.cmd": FULL}, posix_only="/dev/full is a Linux device"),
        Case("file-size limit cuts conv.cmd's last bytes", args=one, out=grid(1, 1), limits={"FSIZE": 196},
             fatal=FILE_TOO_BIG, files={"conv.cmd": ONE_TILE_CONV[:196]}, posix_only=NO_FSIZE),
        Case("file-size limit cuts the .map file's last bytes", args=one, out=grid(1, 1) + MAP_PROGRESS,
             limits={"FSIZE": 3442}, fatal=FILE_TOO_BIG,
             files={"conv.cmd": ONE_TILE_CONV, "one.map": ONE_TILE_MAP[:3442]}, posix_only=NO_FSIZE),
        Case("quoted map name with blanks", command_line='7eb1 7eb1 8041 8041 "My Map"',
             out=grid(1, 1) + MAP_PROGRESS + DONE,
             files={"conv.cmd": ONE_TILE_BLOCK + conversion_tail("My Map"),
                    "My Map.map": map_file("My Map", point(1, 0, 0, 451424, 5503648),
                                           point(2, 255, 255, 452448, 5502624))}),
        Case("quotes touching unquoted text", command_line='7eb1 "7e"b1 80"41" 8041 "a"b',
             out=grid(1, 1) + MAP_PROGRESS + DONE,
             files={"conv.cmd": ONE_TILE_BLOCK + conversion_tail("ab"),
                    "ab.map": map_file("ab", point(1, 0, 0, 451424, 5503648), point(2, 255, 255, 452448, 5502624))}),
        Case("lone pairs of quotes skipped", command_line='"" 7eb1  ""  7eb1 8041\t8041 m ""',
             out=grid(1, 1) + MAP_PROGRESS + DONE,
             files={"conv.cmd": ONE_TILE_BLOCK + conversion_tail("m"),
                    "m.map": map_file("m", point(1, 0, 0, 451424, 5503648), point(2, 255, 255, 452448, 5502624))}),
        Case("quoted blank makes a bad key", command_line='7eb1 "7eb1 " 8041 8041 m', fatal=bad_key("7eb1 ")),
        Case("map name in a missing directory", args=["7eb1", "7ec1", "8041", "8051", "nodir/test"],
             out=grid(3, 3) + MAP_PROGRESS, fatal=("EInOutError", "Invalid filename"),
             files={"conv.cmd": EXAMPLE_BLOCK.replace(b"=test.png", b"=nodir/test.png")}),
    ]


def all_cases(program, host, windows, buffer_size):
    global HOST, BUFFER_SIZE
    HOST, BUFFER_SIZE = host, buffer_size
    specific = rastrel1_cases() if program == "rastrel1" else rastrel2_cases()
    return common_cases(program) + specific
