#!/usr/bin/env python3
"""trenn-inspect --export: each format read back by programs that read these formats for a
living (assimp, meshio, three.js's PLY loader, the glTF validator), on a model with the awkward cases: an all
degenerate strip, indices past the vertex array, two parts on one vertex array, and arrays that
run past the end of the file.

usage: export_test.py --inspect PATH --samples DIR [--readers DIR] [unittest arguments]
(--readers: the folder whose node_modules holds the npm readers)

A reader that is missing fails the test when CI or TRENN_REQUIRE_READERS is set (test.sh
installs them all) and skips it otherwise.
"""

import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "inspect"))
from inspect_test import elf_object  # noqa: E402

INSPECT = None
SAMPLES = None
READERS_DIR = None  # the folder whose node_modules holds gltf-validator and three
HERE = os.path.dirname(os.path.abspath(__file__))
READERS_REQUIRED = bool(os.environ.get("CI") or os.environ.get("TRENN_REQUIRE_READERS"))


def f32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def record(xyz, seed):
    """A 40-byte vertex record: x, y, z and 28 bytes that differ from record to record."""
    return struct.pack("<3f", *xyz) + bytes((seed * 29 + j) % 256 for j in range(28))


def xyz_of(rec):
    return struct.unpack_from("<3f", rec)


class Expected:
    def __init__(self, name, records, triangles, skipped):
        self.name = name            # list text as bytes (Windows-1252)
        self.records = records      # every vertex record, zero tail included
        self.triangles = triangles  # kept triangles, corners in the corrected order
        self.skipped = skipped

    @property
    def text(self):
        return self.name.decode("cp1252")


def edge_model():
    """The object file and, per list position, what an export must hold."""
    strip = [record(v, i) for i, v in enumerate([
        (0.1, 0.2, 0.3), (-1.5, 1e-7, 123456.79), (1e-40, 16777216.0, -3.4028235e38),
        (-0.0, 7.0, -65504.0), (2.5, -0.7, 1.0 / 3)])]
    flat = [record((k, -k, 2 * k), 10 + k) for k in range(3)]
    outside = [record((1, 0, 0), 20), record((0, 1, 0), 21), record((0, 0, 1), 22)]
    tail_full = [record((4, 5, 6), 30), record((-4, -5.25, 6.5), 31)]
    # The file ends 20 bytes into the third record: x, y, z and 8 extra bytes, the last 4 of
    # which are also the tail part's index array, [1, 2], which goes on as zeros.
    tail_cut = struct.pack("<3f", 9, 8, 7) + bytes([0xA0, 0xA1, 0xA2, 0xA3]) + struct.pack("<2h", 1, 2)

    data = bytearray(b"\x11" * 8)
    blocks = []
    for _ in range(5):
        blocks.append(len(data))
        data += b"\0" * 56

    def put(blob):
        at = len(data)
        data.extend(blob)
        return at

    strip_at = put(b"".join(strip))
    places = [
        (strip_at, 5, put(struct.pack("<5h", 0, 1, 2, 3, 4)), 5),
        (put(b"".join(flat)), 3, put(struct.pack("<6h", 0, 0, 1, 1, 2, 2)), 6),
        (put(b"".join(outside)), 3, put(struct.pack("<8h", 0, 1, 2, 5, -1, 1, 0, 2)), 8),
        (strip_at, 5, put(struct.pack("<4h", 4, 3, 2, 1)), 4),
    ]
    tail_at = put(b"".join(tail_full) + tail_cut)
    places.append((tail_at, 6, len(data) - 4, 7))
    for block, (vertex_at, vertex_count, index_at, index_count) in zip(blocks, places):
        struct.pack_into("<IIii", data, block, 0xFFFFFFFF, 0xFFFFFFFF, vertex_at, vertex_count)
        struct.pack_into("<ii", data, block + 48, index_at, index_count)

    tail = tail_full + [tail_cut + b"\0" * 20] + [b"\0" * 40] * 3
    parts = [
        Expected(b"_strip", strip, [(0, 1, 2), (1, 3, 2), (2, 3, 4)], 0),
        Expected(b"_flat", flat, [], 4),
        Expected(b"_outside", outside, [(0, 1, 2), (1, 2, 0)], 4),
        Expected(b"_shared", strip, [(4, 3, 2), (3, 1, 2)], 0),
        Expected(b'_caf\xe9 "q"\t\\ \x80', tail, [(1, 2, 0)], 1),
    ]
    names = [b"__geoprimdatabuffer" + p.name for p in parts]
    return elf_object(bytes(data), [(n.decode("latin-1"), at, 1) for n, at in zip(names, blocks)]), parts


def expected_corners(parts):
    """Every kept triangle's corners, in file order, as (x, y, z) single-precision triples."""
    return [tuple(xyz_of(p.records[v])) for p in parts for t in p.triangles for v in t]


MESHIO_DUMP = """
import json, sys, warnings
warnings.simplefilter("ignore")
import meshio
mesh = meshio.read(sys.argv[1])
print(json.dumps({"points": [[float(c) for c in p] for p in mesh.points],
                  "cells": [[c.type, c.data.tolist()] for c in mesh.cells]}))
"""


class Readers:
    """Finds the readers; a missing one fails the test in CI and skips it by hand."""

    def __init__(self, case):
        self.case = case

    def missing(self, what):
        message = "%s is not installed (./test.sh installs it)" % what
        if READERS_REQUIRED:
            self.case.fail(message)
        self.case.skipTest(message)

    def assimp(self):
        return shutil.which("assimp") or self.missing("assimp (Debian package assimp-utils)")

    def meshio_python(self):
        for python in (sys.executable, "/usr/bin/python3"):
            if os.path.exists(python) and subprocess.run(
                    [python, "-c", "import meshio"], capture_output=True).returncode == 0:
                return python
        return self.missing("meshio (Debian package python3-meshio)")

    def node_modules(self):
        node = shutil.which("node") or self.missing("node (Debian package nodejs)")
        for module in ("gltf-validator", "three"):
            if not READERS_DIR or not os.path.isdir(os.path.join(READERS_DIR, "node_modules", module)):
                self.missing("the npm module %s (scripts/setup.sh: trenn_install_npm_readers)" % module)
        return node


class ExportCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="trenn-export-test-")
        self.addCleanup(self.dir.cleanup)
        self.env = dict(os.environ, TEMP=self.path("scratch"))
        os.mkdir(self.path("scratch"))
        self.readers = Readers(self)
        model, self.parts = edge_model()
        self.model = self.path("edge.o")
        with open(self.model, "wb") as f:
            f.write(model)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def inspect(self, *args):
        result = subprocess.run([INSPECT, *args], capture_output=True, env=self.env, cwd=self.dir.name,
                                timeout=120)
        return result.returncode, result.stdout.decode("utf-8"), result.stderr.decode("utf-8")

    def export(self, out, *args, model=None):
        code, stdout, stderr = self.inspect("--export", self.path(out), *args, model or self.model)
        self.assertEqual(code, 0, stderr)
        return json.loads(stdout)["export"]

    def run_json(self, command, strict=True):
        result = subprocess.run(command, capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        return json.loads(result.stdout, strict=strict)

    def meshio(self, path):
        return self.run_json([self.readers.meshio_python(), "-c", MESHIO_DUMP, path])

    def node(self, mode, path):
        node = self.readers.node_modules()
        return self.run_json([node, os.path.join(HERE, "readers", "read.mjs"), READERS_DIR, mode, path])

    def assimp(self, path):
        """assimp's scene: node names below the root, and per mesh its name and face count; and
        every face's corners, read back exactly from the binary STL assimp writes of it."""
        assimp = self.readers.assimp()
        dump, corners = path + ".assjson", path + ".assimp.stl"
        for out, form in ((dump, "assjson"), (corners, "stlb")):
            result = subprocess.run([assimp, "export", path, out, "-f" + form], capture_output=True,
                                    timeout=120)
            self.assertEqual(result.returncode, 0, result.stdout.decode("utf-8", "replace"))
        # assimp writes names unescaped, control characters and all.
        with open(dump, encoding="utf-8") as f:
            scene = json.load(f, strict=False)
        root = scene["rootnode"]
        nodes = [n["name"] for n in root.get("children", [])] or [root["name"]]
        meshes = [(m["name"], len(m["faces"])) for m in scene["meshes"]]
        read = self.meshio(corners)
        points = read["points"]
        return nodes, meshes, [tuple(points[v]) for t in read["cells"][0][1] for v in t]

    def assertSingles(self, got, want, ulps=0):
        """Each (x, y, z) of `got` reads as the single-precision value of `want`'s, or within
        `ulps` steps of it."""
        self.assertEqual(len(got), len(want))
        for g, w in zip(got, want):
            for a, b in zip(g, w):
                ia = struct.unpack("<i", struct.pack("<f", f32(a)))[0]
                ib = struct.unpack("<i", struct.pack("<f", f32(b)))[0]
                if f32(a) != f32(b):
                    self.assertLessEqual(abs(ia - ib), ulps, (g, w))


class Summary(ExportCase):
    def test_export_adds_its_summary_and_nothing_else(self):
        code, plain, _ = self.inspect(self.model)
        self.assertEqual(code, 0)
        vertices = {"obj": 22, "ply": 22, "stl": 3 * 8, "glb": 22 - 3}  # glb: no mesh for _flat
        for form, count in vertices.items():
            with self.subTest(format=form):
                out = self.path("edge." + form)
                code, stdout, stderr = self.inspect("--export", out, self.model)
                self.assertEqual((code, stderr), (0, ""))
                doc = json.loads(stdout)
                self.assertEqual(doc.pop("export"), {"path": out, "format": form, "parts": 5,
                                                     "vertices": count, "triangles": 8, "skipped": 9})
                self.assertEqual(doc, json.loads(plain))
                self.assertEqual(sorted(os.listdir(self.dir.name)),
                                 sorted(["edge.o", "scratch", "edge." + form]))
                os.remove(out)


class Obj(ExportCase):
    def test_read_back(self):
        self.export("edge.obj")
        # meshio: every vertex record as written, faces numbered across the file.
        read = self.meshio(self.path("edge.obj"))
        self.assertSingles(read["points"], [xyz_of(r) for p in self.parts for r in p.records])
        first = [0, 5, 8, 11, 16]
        self.assertEqual(read["cells"], [["triangle", [[first[k] + v for v in t]
                                                       for k, p in enumerate(self.parts) for t in p.triangles]]])
        # assimp: one object per part, named by its list text (a space or tab becomes "_").
        nodes, meshes, corners = self.assimp(self.path("edge.obj"))
        names = ["_strip", "_flat", "_outside", "_shared", '_café_"q"_\\_€']
        self.assertEqual(nodes, names)
        self.assertEqual(meshes, [(n, len(p.triangles)) for n, p in zip(names, self.parts) if p.triangles])
        # assimp's quick text-to-float reading may miss the nearest single by one step.
        self.assertSingles(corners, expected_corners(self.parts), ulps=1)


class Ply(ExportCase):
    def test_read_back(self):
        self.export("edge.ply")
        # three.js's PLY loader: every record's coordinates and 28 extra bytes, and the faces.
        # (meshio 7 cannot read faces that carry a property besides their corners.)
        read = self.node("ply", self.path("edge.ply"))
        records = [r for p in self.parts for r in p.records]
        positions = read["positions"]
        self.assertSingles([positions[i:i + 3] for i in range(0, len(positions), 3)],
                           [xyz_of(r) for r in records])
        self.assertEqual(read["extra"], [list(r[12:]) for r in records])
        first = [0, 5, 8, 11, 16]
        self.assertEqual(read["faces"], [first[k] + v for k, p in enumerate(self.parts)
                                         for t in p.triangles for v in t])
        nodes, meshes, corners = self.assimp(self.path("edge.ply"))
        self.assertEqual([count for _, count in meshes], [8])
        self.assertSingles(corners, expected_corners(self.parts))


class Stl(ExportCase):
    def test_read_back(self):
        self.export("edge.stl")
        read = self.meshio(self.path("edge.stl"))
        points = read["points"]
        self.assertSingles([points[v] for t in read["cells"][0][1] for v in t], expected_corners(self.parts))
        nodes, meshes, corners = self.assimp(self.path("edge.stl"))
        self.assertEqual([count for _, count in meshes], [8])
        self.assertSingles(corners, expected_corners(self.parts))


class Glb(ExportCase):
    def validate(self, path):
        report = self.node("validate", path)
        self.assertEqual((report["errors"], report["warnings"], report["truncated"]), (0, 0, False),
                         report["messages"])
        return report

    def test_read_back(self):
        self.export("edge.glb")
        report = self.validate(self.path("edge.glb"))
        # The part without triangles is a node without a mesh: the validator only remarks on it.
        self.assertEqual(report["messages"], [["NODE_EMPTY", "/nodes/1"]])
        info = report["info"]
        self.assertEqual((info["drawCallCount"], info["totalVertexCount"], info["totalTriangleCount"]),
                         (4, 19, 8))
        nodes, meshes, corners = self.assimp(self.path("edge.glb"))
        names = [p.text for p in self.parts]
        self.assertEqual(nodes, names)
        self.assertEqual(meshes, [(p.text, len(p.triangles)) for p in self.parts if p.triangles])
        self.assertSingles(corners, expected_corners(self.parts))

    def test_samples_validate(self):
        for sample in ("cube.o", "torus.o", "ferris_wheel.o"):
            with self.subTest(sample=sample):
                summary = self.export(sample + ".glb", model=os.path.join(SAMPLES, sample))
                info = self.validate(self.path(sample + ".glb"))["info"]
                self.assertEqual((info["totalVertexCount"], info["totalTriangleCount"]),
                                 (summary["vertices"], summary["triangles"]))


class Command(ExportCase):
    def test_check_picks_parts_in_list_order(self):
        summary = self.export("some.obj", "--check", "4,0,3")
        self.assertEqual(summary["parts"], 3)
        self.assertEqual((summary["vertices"], summary["triangles"], summary["skipped"]), (16, 6, 1))
        with open(self.path("some.obj"), encoding="utf-8") as f:
            self.assertEqual([line for line in f if line.startswith("o ")],
                             ["o _strip\n", "o _shared\n", 'o _café_"q"_\\_€\n'])

    def test_failures_write_nothing(self):
        broken = self.path("broken.o")
        with open(broken, "wb") as f:
            f.write(b"not an object file")
        cases = [
            # args, status, stderr
            (["--export", self.path("x.dae"), self.model], 2, "does not end in .obj, .ply, .stl or .glb"),
            (["--export", self.path("x.obj"), "--check", "5", self.model], 2, "no list position 5"),
            (["--export", self.path("x.obj"), "--keys", "Left", self.model], 2, "need --render"),
            (["--export", self.path("x.obj"), broken], 1, ""),
            (["--export", self.path("no/x.stl"), self.model], 3,
             "trenn-inspect: cannot write %s: No such file or directory\n" % self.path("no/x.stl")),
        ]
        for args, status, message in cases:
            with self.subTest(args=args[:2]):
                code, stdout, stderr = self.inspect(*args)
                self.assertEqual(code, status, stderr)
                self.assertIn(message, stderr)
                if status != 1:
                    self.assertEqual(stdout, "")
                if status == 3:
                    self.assertEqual(stderr, message)
                self.assertEqual(sorted(os.listdir(self.dir.name)), ["broken.o", "edge.o", "scratch"])


def main():
    global INSPECT, SAMPLES, READERS_DIR
    args = sys.argv[1:]
    values = {}
    for option in ("--inspect", "--samples", "--readers"):
        if option in args:
            at = args.index(option)
            values[option] = os.path.abspath(args[at + 1])
            del args[at:at + 2]
    INSPECT, SAMPLES = values["--inspect"], values["--samples"]
    READERS_DIR = values.get("--readers")
    unittest.main(argv=[sys.argv[0], "-v"] + args)


if __name__ == "__main__":
    main()
