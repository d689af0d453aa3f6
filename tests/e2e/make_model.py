#!/usr/bin/env python3
"""Writes a small object file for the end-to-end tests: two parts, "_shape" and "_base", whose
coordinates depend on the variant, so that writing the other variant over the file changes the
picture but not the names in the list.

usage: make_model.py OUT a|b|large
(large: one part "_large", 32768 vertices and a strip of a million random entries)
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "inspect"))
import array  # noqa: E402
import random  # noqa: E402
import struct  # noqa: E402

from inspect_test import elf_object, mesh_data, packed_model  # noqa: E402

SHAPES = {
    # A square strip and a flat base below it.
    "a": [(-1, -1, 0), (1, -1, 0), (-1, 1, 0), (1, 1, 0)],
    # A tall, twisted strip: other coordinates, the same number of vertices.
    "b": [(-0.3, -2, 0.5), (0.4, -1.5, -0.5), (-0.2, 2, 0.8), (0.6, 1.2, -0.7)],
}
BASE = [(-2, -2.5, -1), (2, -2.5, -1), (-2, -2.5, 1), (2, -2.5, 1)]


def main():
    out, variant = sys.argv[1], sys.argv[2]
    if variant == "large":
        rng = random.Random(5)
        coordinates = struct.pack("<%df" % (3 * 32768), *(rng.uniform(-1, 1) for _ in range(3 * 32768)))
        strip = array.array("h", (rng.randrange(32768) for _ in range(1000000))).tobytes()
        with open(out, "wb") as f:
            f.write(packed_model([(coordinates, strip)]).replace(b"geoprimdatabuffer_0", b"geoprimdatabuffer_L"))
        return
    data, values = mesh_data([(SHAPES[variant], [0, 1, 2, 3], 4), (BASE, [0, 1, 2, 3], 4)])
    symbols = [("__geoprimdatabuffer_shape", values[0], 1), ("__geoprimdatabuffer_base", values[1], 1)]
    with open(out, "wb") as f:
        f.write(elf_object(data, symbols))


if __name__ == "__main__":
    main()
