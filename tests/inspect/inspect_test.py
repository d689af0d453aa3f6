#!/usr/bin/env python3
"""trenn-inspect's command-line contract: JSON on stdout, exit status, --full and --render.

usage: inspect_test.py --inspect PATH --samples DIR [--no-render] [unittest arguments]
(--no-render: a build without Qt, which has no --render)
"""

import array
import json
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

INSPECT = None
SAMPLES = None
RENDER = True
SANITIZED = False

PICTURE_W, PICTURE_H = 5985.0, 5250.0  # picShow's outer size in twips


def f32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def expected_scale(extent):
    # F = H / W x E, in single precision
    f = f32(f32(PICTURE_H / PICTURE_W) * extent)
    return [-extent, f, extent, -f]


def elf_object(progbits, symbols):
    """A little-endian ELF32 relocatable file: one PROGBITS section (number 1), a symbol
    table and its string table. symbols: (name, value, section number)."""
    strtab = b"\0"
    records = b"\0" * 16  # the null symbol
    for name, value, shndx in symbols:
        offset = len(strtab)
        strtab += name.encode("latin-1") + b"\0"
        records += struct.pack("<IiIBBH", offset, value, 0, 0x11, 0, shndx)
    body = b""
    offsets = []
    for blob in (progbits, records, strtab):
        offsets.append(52 + len(body))
        body += blob + b"\0" * (-len(blob) % 4)
    shoff = 52 + len(body)
    sections = b"\0" * 40
    sections += struct.pack("<10I", 0, 1, 3, 0, offsets[0], len(progbits), 0, 0, 4, 0)
    sections += struct.pack("<10I", 0, 2, 0, 0, offsets[1], len(records), 3, 1, 4, 16)
    sections += struct.pack("<10I", 0, 3, 0, 0, offsets[2], len(strtab), 0, 0, 1, 0)
    header = b"\x7fELF" + bytes([1, 1, 1]) + b"\0" * 9
    header += struct.pack("<HHIIIIIHHHHHH", 1, 3, 1, 0, 0, shoff, 0, 52, 0, 0, 40, 4, 0)
    return header + body + sections


def packed_model(parts):
    """An object with one part per (coordinates, index bytes): coordinates as packed x, y, z
    singles, made into 40-byte records; indices as packed 16-bit entries."""
    data = bytearray(b"\x11" * 8)
    symbols = []
    for coordinates, indices in parts:
        block_at = len(data)
        symbols.append(("__geoprimdatabuffer_%d" % len(symbols), block_at, 1))
        data += b"\0" * 56
        vertex_at = len(data)
        count = len(coordinates) // 12
        for v in range(count):
            data += coordinates[12 * v:12 * v + 12] + bytes(28)
        index_at = len(data)
        data += indices
        struct.pack_into("<IIii", data, block_at, 0xFFFFFFFF, 0xFFFFFFFF, vertex_at, count)
        struct.pack_into("<ii", data, block_at + 48, index_at, len(indices) // 2)
    return elf_object(bytes(data), symbols)


def mesh_data(parts, lead=8):
    """PROGBITS bytes holding one mesh block per part (vertices, indices, declared index
    count); returns the bytes and each block's offset, to be used as a symbol value."""
    data = bytearray(b"\x11" * lead)
    values = []
    for vertices, indices, index_count in parts:
        values.append(len(data))
        block_at = len(data)
        data += b"\0" * 56
        vertex_at = len(data)
        for x, y, z in vertices:
            data += struct.pack("<fff", x, y, z) + bytes(range(28))
        index_at = len(data)
        data += struct.pack("<%dh" % len(indices), *indices)
        struct.pack_into("<IIii", data, block_at, 0xFFFFFFFF, 0xFFFFFFFF, vertex_at, len(vertices))
        struct.pack_into("<ii", data, block_at + 48, index_at, index_count)
    return bytes(data), values


class InspectCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="trenn-inspect-test-")
        self.addCleanup(self.dir.cleanup)
        self.env = dict(os.environ, TEMP=self.path("scratch"))
        os.mkdir(self.path("scratch"))

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def run_inspect(self, *args):
        result = subprocess.run([INSPECT, *args], capture_output=True, env=self.env,
                                cwd=self.dir.name, timeout=120)
        return result.returncode, result.stdout.decode("utf-8"), result.stderr.decode("utf-8")

    def load(self, *args, status=0):
        code, out, err = self.run_inspect(*args)
        self.assertEqual(code, status, err)
        self.assertTrue(out.endswith("}\n"), out)
        self.assertEqual(out.count("\n"), 1, "one JSON object on one line")
        return json.loads(out)

    def assertSingle(self, actual, expected):
        # JSON carries the shortest decimal of a single; it must read back as that single.
        self.assertEqual(f32(actual), f32(expected), (actual, expected))


class Samples(InspectCase):
    CASES = [
        # sample, parts (vertices, indices), extent, texts
        ("cube.o", [(24, 34)], 1.0, ["_cube"]),
        ("torus.o", [(85, 142)] * 12, 2.7, ["_torus_%d" % k for k in range(1, 13)]),
        ("ferris_wheel.o",
         [(340, 550), (7026, 15174), (1139, 2190), (18144, 40894), (18144, 40894),
          (19377, 41418), (19377, 41418), (7808, 15742)], 1.0,
         ["_ground", "_stand", "_axle", "_spokes_front", "_spokes_back", "_rim_front",
          "_rim_back", "_gondolas"]),
    ]

    def test_summary_of_each_sample(self):
        for sample, parts, extent, texts in self.CASES:
            with self.subTest(sample=sample):
                path = os.path.join(SAMPLES, sample)
                doc = self.load(path)
                self.assertEqual(list(doc), ["object", "symbols", "extent", "scale", "parts"])
                self.assertEqual(doc["object"], path)
                self.assertSingle(doc["extent"], extent)
                for got, want in zip(doc["scale"], expected_scale(f32(extent)), strict=True):
                    self.assertSingle(got, want)
                self.assertEqual([(p["vertices"], p["indices"]) for p in doc["parts"]], parts)
                self.assertEqual([p["text"] for p in doc["parts"]], texts)
                for p in doc["parts"]:
                    symbol = doc["symbols"][p["symbol"]]
                    self.assertEqual(symbol["name"], "__geoprimdatabuffer" + p["text"])
                    self.assertEqual(symbol["value"], p["value"])
                    self.assertNotIn("vertex_data", p)
                # The scratch file goes before the program ends.
                self.assertEqual(os.listdir(self.path("scratch")), [])

    def test_full_lists_every_vertex_and_index(self):
        for sample, parts, extent, _ in self.CASES:
            with self.subTest(sample=sample):
                doc = self.load("--full", os.path.join(SAMPLES, sample))
                largest = 0.0
                for part, (vertices, indices) in zip(doc["parts"], parts, strict=True):
                    self.assertEqual(len(part["vertex_data"]), vertices)
                    self.assertTrue(all(len(v) == 3 for v in part["vertex_data"]))
                    largest = max([largest] + [abs(c) for v in part["vertex_data"] for c in v])
                    self.assertEqual(len(part["index_data"]) + part["index_zero_tail"], indices)
                    self.assertEqual(part["index_zero_tail"], 0)
                    self.assertTrue(all(0 <= i < vertices for i in part["index_data"]))
                self.assertSingle(largest, doc["extent"])


class HandMade(InspectCase):
    def test_values_as_stored(self):
        vertices = [(3.0, -7.0, 2.0), (-1.0, 5.0, 6.5), (0.1, 0.2, -0.3)]
        data, values = mesh_data([(vertices, [0, 1, 2, 2, -3], 5), ([(0.5, 0, 0)], [0], 1)])
        path = self.write("two.o", elf_object(data, [
            ("__geoprimdatabuffer_first", values[0], 1),
            ("not a part", 1, 1),
            ("__geoprimdatabuffer", values[1], 1),
        ]))
        doc = self.load("--full", path)
        self.assertEqual([s["name"] for s in doc["symbols"]],
                         ["__geoprimdatabuffer_first", "not a part", "__geoprimdatabuffer"])
        self.assertSingle(doc["extent"], 7.0)
        for got, want in zip(doc["scale"], expected_scale(7.0), strict=True):
            self.assertSingle(got, want)
        first, second = doc["parts"]
        self.assertEqual((first["text"], first["symbol"], first["value"]), ("_first", 0, values[0]))
        self.assertEqual((second["text"], second["symbol"]), ("", 2))
        for got, want in zip(first["vertex_data"], vertices, strict=True):
            for g, w in zip(got, want, strict=True):
                self.assertSingle(g, w)
        self.assertEqual(first["index_data"], [0, 1, 2, 2, -3])
        self.assertEqual(second["vertex_data"], [[0.5, 0, 0]])

    def test_indices_past_the_end_of_the_file_are_counted_zeros(self):
        data, values = mesh_data([([(1, 2, 3)] * 3, [0, 1, 2], 40000)])
        doc = self.load("--full", self.write("tail.o", elf_object(
            data, [("__geoprimdatabuffer_t", values[0], 1)])))
        part = doc["parts"][0]
        self.assertEqual(part["indices"], 40000)
        self.assertEqual(part["index_data"][:3], [0, 1, 2])
        self.assertEqual(len(part["index_data"]) + part["index_zero_tail"], 40000)
        self.assertGreater(part["index_zero_tail"], 0)
        self.assertTrue(all(i == 0 for i in part["index_data"][3:]))


class Failures(InspectCase):
    PREFIX = "An error occured while loading "

    def failure(self, name, data):
        path = self.write(name, data)
        doc = self.load(*(["--render", "out.png"] if RENDER else []), path, status=1)
        self.assertEqual(list(doc), ["object", "error", "detail"])
        self.assertEqual(doc["object"], path)
        self.assertTrue(doc["detail"])
        self.assertFalse(os.path.exists(self.path("out.png")), "no picture after a failure")
        self.assertEqual(os.listdir(self.path("scratch")), [])
        return doc["error"]

    def test_reasons_in_the_message_box_text(self):
        data, values = mesh_data([([(1, 1, 1)], [0, 0, 0], 3)])
        cases = [
            ("notes.txt", b"just some text\n", "Magic does not match! This is not an ELF file!"),
            ("empty.o", b"", "Magic does not match! This is not an ELF file!"),
            # Only the null symbol: the one empty entry of the symbol list.
            ("noparts.o", elf_object(data, []), "This is not an understood .O file"),
            # A section symbol: kept, with an empty name.
            ("section.o", elf_object(data, [("", 0, 1)]), "This is not an understood .O file"),
            ("zero.o", elf_object(data, [("__geoprimdatabuffer_z", 0, 1)]),
             "The .O file is corrupt or does not contain valid mesh data"),
            ("nomarker.o", elf_object(b"\x01" * 64, [("__geoprimdatabuffer_n", 4, 1)]),
             "The .O file is corrupt or does not contain valid mesh data"),
        ]
        for name, blob, reason in cases:
            with self.subTest(file=name):
                error = self.failure(name, blob)
                self.assertEqual(error, self.PREFIX + self.path(name) + "\r\n\r\n" + reason)

    def test_read_failure_has_no_reason(self):
        # A symbol naming a section that does not exist fails the read itself.
        data, _ = mesh_data([([(1, 1, 1)], [0, 0, 0], 3)])
        error = self.failure("badsym.o", elf_object(data, [("__geoprimdatabuffer_b", 8, 77)]))
        self.assertEqual(error, self.PREFIX + self.path("badsym.o") + "\r\n\r\n")

    def test_detail_says_why(self):
        # The diagnosis behind the viewer's "Show Details...", word for word.
        data, values = mesh_data([([(1, 1, 1)], [0, 0, 0], 3)])
        model = elf_object(data, [("__geoprimdatabuffer_m", values[0], 1)])
        wide = bytearray(elf_object(data, []))
        wide[4] = 2  # EI_CLASS: 64-bit
        secret = self.write("secret.o", model)
        os.chmod(secret, 0)
        self.write("wide.o", bytes(wide))
        cases = [
            ("absent.o", "cannot open %s: No such file or directory"),
            ("secret.o", "cannot open %s: Permission denied"),
            ("wide.o", "64-bit ELF objects are not supported (class byte 2)"),
        ]
        # Root may read anything: the unreadable file is tried as nobody, with a copy of the
        # program in this test's own folder, since the build folder may lie where nobody may go.
        as_nobody = os.geteuid() == 0
        inspect = INSPECT
        if as_nobody:
            os.chmod(self.dir.name, 0o755)
            os.chmod(self.path("scratch"), 0o777)
            inspect = shutil.copy(INSPECT, self.path("trenn-inspect"))
            os.chmod(inspect, 0o755)
        for name, detail in cases:
            with self.subTest(file=name):
                path = self.path(name)
                result = subprocess.run([inspect, path], capture_output=True, env=self.env,
                                        timeout=60, user=65534 if as_nobody else None)
                self.assertEqual(result.returncode, 1, result.stderr)
                doc = json.loads(result.stdout)
                self.assertEqual(doc["detail"], detail.replace("%s", path))

    def test_any_path_comes_back_exactly(self):
        # The output is UTF-8 whatever bytes the path holds: a byte that is not part of UTF-8
        # is written as the escape \\udcXX, which os.fsencode turns back into that byte. "--"
        # ends the options, so that a name may start with "-".
        with open(os.path.join(SAMPLES, "cube.o"), "rb") as f:
            cube = f.read()
        folder = os.fsencode(self.dir.name)
        for name in [b"plain.o", "gr\u00fcn.o".encode(), b"raw\xff\xfe.o", b"cut\xc3.o", b"-dash.o"]:
            path = os.path.join(folder, name)
            with open(path, "wb") as f:
                f.write(cube)
            with open(path + b".txt", "wb") as f:
                f.write(b"text")
            for target, status in ((path, 0), (path + b".txt", 1)):
                with self.subTest(path=target):
                    result = subprocess.run([INSPECT, "--", target], capture_output=True, env=self.env,
                                            timeout=60)
                    self.assertEqual(result.returncode, status, result.stderr)
                    doc = json.loads(result.stdout.decode("utf-8", errors="strict"))
                    self.assertEqual(os.fsencode(doc["object"]), target)
                    if status:
                        self.assertEqual(os.fsencode(doc["error"]),
                                         os.fsencode(self.PREFIX) + target + b"\r\n\r\nMagic does not match! This is not an ELF file!")
        code, out, _ = self.run_inspect("--", "--help")
        self.assertEqual(code, 1)
        self.assertEqual(json.loads(out)["object"], "--help")

    def test_missing_file(self):
        code, out, _ = self.run_inspect(self.path("absent.o"))
        self.assertEqual(code, 1)
        self.assertTrue(json.loads(out)["error"].startswith(self.PREFIX))


class Usage(InspectCase):
    def test_usage_errors(self):
        cube = os.path.join(SAMPLES, "cube.o")
        cases = [
            [],
            [cube, cube],
            ["--bogus", cube],
            ["--render"],
            ["--render", ""],
            ["--check", "0", cube],
            ["--keys", "Left", cube],
            ["--render", "out.png", "--check", "", cube],
            ["--render", "out.png", "--check", "0,,1", cube],
            ["--render", "out.png", "--check", "-1", cube],
            ["--render", "out.png", "--check", "1x", cube],
            ["--render", "out.png", "--check", "99999", cube],
            ["--render", "out.png", "--check", "1", cube],  # the cube's list has one entry
            ["--render", "out.png", "--keys", "Left,PageUp", cube],
            ["--render", "out.png", "--keys", "", cube],
            ["--render", "out.png", "--keys", cube],
            ["--zoom", "2", cube],
            ["--render", "out.png", "--zoom", "0.05", cube],
            ["--render", "out.png", "--zoom", "4097", cube],
            ["--render", "out.png", "--zoom", "nan", cube],
            ["--render", "out.png", "--center", "1", cube],
            ["--render", "out.png", "--center", "1,2,3", cube],
            ["--render", "out.png", "--center", "1,inf", cube],
            ["--render", "out.png", "--fit", "--zoom", "2", cube],
            ["--render", "out.png", "--center", "0,0", "--fit", cube],
            ["--size", "800x600", cube],
            ["--render", "out.png", "--size", "800", cube],
            ["--render", "out.png", "--size", "15x600", cube],
            ["--render", "out.png", "--size", "800x8193", cube],
            ["--render", "out.png", "--size", "800x600x2", cube],
            ["--render", "out.png", "--size", "x600", cube],
            ["--shaded", cube],
            ["--render", "out.png", "--edges", cube],
        ]
        for args in cases:
            with self.subTest(args=args):
                code, out, err = self.run_inspect(*args)
                self.assertEqual(code, 2)
                self.assertEqual(out, "")
                self.assertIn("usage: trenn-inspect", err)
                self.assertFalse(os.path.exists(self.path("out.png")))

    def test_help_and_version(self):
        # Either answers wherever it stands, even where a value or the object is due, and
        # loads nothing; --help wins over --version.
        cube = os.path.join(SAMPLES, "cube.o")
        help_, version = "help", "version"
        cases = [
            (["--help"], help_),
            (["-h", "--bogus"], help_),
            (["--render", "--help", cube], help_),
            (["--version", "--help"], help_),
            (["--version"], version),
            (["--full", cube, "--version"], version),
            (["--render", "--version", cube], version),
            ([cube, cube, "--version"], version),
        ]
        for args, answer in cases:
            with self.subTest(args=args):
                code, out, err = self.run_inspect(*args)
                self.assertEqual((code, err), (0, ""))
                if answer == help_:
                    self.assertTrue(out.startswith("usage: trenn-inspect"), out)
                    for option in ("--full", "--render", "--size", "--shaded", "--edges", "--check", "--keys",
                                   "--zoom", "--center", "--fit", "--version"):
                        self.assertIn(option, out)
                else:
                    self.assertRegex(out, r"\Atrenn-inspect [0-9]+\.[0-9]+\.[0-9]+\n\Z")


def png_pixels(path):
    """The (r, g, b) of every pixel of an 8-bit RGB or RGBA PNG file, row by row."""
    with open(path, "rb") as f:
        data = f.read()
    width, height = struct.unpack(">II", data[16:24])
    bit_depth, colour_type = data[24], data[25]
    assert bit_depth == 8 and colour_type in (2, 6), (bit_depth, colour_type)
    channels = 3 if colour_type == 2 else 4
    compressed, at = b"", 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IDAT":
            compressed += data[at + 8:at + 8 + length]
        at += 12 + length
    raw = zlib.decompress(compressed)
    stride = width * channels
    previous = bytearray(stride)
    pixels = []
    for row in range(height):
        kind = raw[row * (stride + 1)]
        line = bytearray(raw[row * (stride + 1) + 1:(row + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                guess = left + up - corner
                distances = (abs(guess - left), abs(guess - up), abs(guess - corner))
                line[i] = (line[i] + (left, up, corner)[distances.index(min(distances))]) & 0xFF
        pixels.extend(tuple(line[i:i + 3]) for i in range(0, stride, channels))
        previous = line
    return pixels


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


class Render(InspectCase):
    def setUp(self):
        if not RENDER:
            self.skipTest("built without Qt")
        super().setUp()

    def test_render_adds_its_path_and_writes_the_picture_area(self):
        torus = os.path.join(SAMPLES, "torus.o")
        plain = self.load(torus)
        doc = self.load("--render", "pic.png", "--check", "0,3", "--keys", "LEFT,up,Home,down",
                        torus)
        self.assertEqual(doc.pop("render"), "pic.png")
        self.assertEqual(doc, plain)
        self.assertEqual(png_size(self.path("pic.png")), (395, 346))
        for size in ((16, 16), (800, 600), (8192, 16)):
            with self.subTest(size=size):
                self.load("--render", "sized.png", "--size", "%dx%d" % size, torus)
                self.assertEqual(png_size(self.path("sized.png")), size)

    def test_picture_that_cannot_be_written(self):
        # Exit 3 with the reason, no JSON, and nothing half-written left behind.
        cube = os.path.join(SAMPLES, "cube.o")
        folder = self.path("no/such/folder.png")
        cases = [
            (folder, "cannot write %s: No such file or directory" % folder),
            ("/dev/full", "cannot write /dev/full: No space left on device"),
        ]
        for out_path, detail in cases:
            with self.subTest(out=out_path):
                code, out, err = self.run_inspect("--render", out_path, cube)
                self.assertEqual((code, out, err), (3, "", "trenn-inspect: %s\n" % detail))

    def test_output_that_cannot_be_written(self):
        with open("/dev/full", "w") as full:
            result = subprocess.run([INSPECT, os.path.join(SAMPLES, "cube.o")], stdout=full,
                                    stderr=subprocess.PIPE, env=self.env, timeout=60)
        self.assertEqual(result.returncode, 3)
        self.assertEqual(result.stderr, b"trenn-inspect: cannot write the output: No space left on device\n")

    def test_model_far_off_centre_leaves_the_picture_empty(self):
        # Corners 1e16 apart by a unit round to one value; the picture must not collapse into
        # a line through the model.
        cube = os.path.join(SAMPLES, "cube.o")
        self.load("--render", "far.png", "--center", "1e16,0", cube)
        self.load("--render", "near.png", "--center", "0.5,0", cube)
        self.assertEqual(set(png_pixels(self.path("far.png"))), {(255, 255, 255)})
        self.assertGreater(len(set(png_pixels(self.path("near.png")))), 1)

    def test_large_strips_stay_within_memory_and_time(self):
        # Strips far longer than their vertex arrays, of long lines across the whole picture:
        # kept edge lists would take four times the file. The picture takes at most
        # 64 MiB + 4 x the file's size, and at most 2 s (about a third of that on an idle machine).
        rng = random.Random(3)
        vertices = struct.pack("<%df" % (3 * 32768), *(rng.uniform(-1, 1) for _ in range(3 * 32768)))
        strip = array.array("h", (rng.randrange(32768) for _ in range(600000))).tobytes()
        half = len(strip) // 2
        cases = [
            ("one part, 600 000 random entries", [(vertices, strip)]),
            ("two parts, half of them each over the same vertices",
             [(vertices, strip[:half]), (vertices, strip[half:])]),
        ]
        for name, parts in cases:
            with self.subTest(shape=name):
                path = self.write("big.o", packed_model(parts))
                size = os.path.getsize(path)
                start = time.monotonic()
                child = subprocess.Popen([INSPECT, "--render", self.path("big.png"), path],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=self.env)
                _, status, usage = os.wait4(child.pid, 0)
                took = time.monotonic() - start
                self.assertEqual(os.waitstatus_to_exitcode(status), 0, child.stderr.read())
                peak_mib = usage.ru_maxrss / 1024.0
                print("[ measured ] %s: %.1f MB file, %.2f s, peak %.1f MiB" % (name, size / 1e6, took, peak_mib))
                if not SANITIZED:
                    self.assertLess(peak_mib, 64 + 4 * size / 2**20)
                    self.assertLess(took, 2.0)

    def test_termination_signals_remove_the_scratch_file(self):
        # The picture goes to a pipe nobody reads: the program waits there, its scratch file
        # made, until a signal ends it.
        cube = os.path.join(SAMPLES, "cube.o")
        pipe = self.path("picture.pipe")
        os.mkfifo(pipe)
        # Each signal a few times: one that comes just as the file appears must find it too.
        for signal_number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP) * 4:
            with self.subTest(signal=signal_number.name):
                child = subprocess.Popen([INSPECT, "--render", pipe, cube], stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, env=self.env)
                deadline = time.monotonic() + 30
                while not os.listdir(self.path("scratch")) and time.monotonic() < deadline:
                    time.sleep(0.01)
                self.assertEqual(len(os.listdir(self.path("scratch"))), 1)
                sent = time.monotonic()
                child.send_signal(signal_number)
                child.communicate(timeout=30)
                # At once, not after the pipe's reader: a loaded machine may take a moment.
                self.assertLess(time.monotonic() - sent, 5.0)
                self.assertEqual(child.returncode, -signal_number)
                self.assertEqual(os.listdir(self.path("scratch")), [])


def main():
    global INSPECT, SAMPLES, RENDER, SANITIZED
    args = sys.argv[1:]
    if "--no-render" in args:
        RENDER = False
        args.remove("--no-render")
    if "--sanitized" in args:
        SANITIZED = True
        args.remove("--sanitized")
    INSPECT = os.path.abspath(args[args.index("--inspect") + 1])
    SAMPLES = os.path.abspath(args[args.index("--samples") + 1])
    rest = [a for i, a in enumerate(args)
            if a not in ("--inspect", "--samples") and (i == 0 or args[i - 1] not in ("--inspect", "--samples"))]
    unittest.main(argv=[sys.argv[0], "-v"] + rest)


if __name__ == "__main__":
    main()
