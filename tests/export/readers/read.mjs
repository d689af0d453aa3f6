// Reads an exported file with an npm reader and prints what it found as JSON.
// usage: node read.mjs MODULES validate FILE.glb   the glTF validator's findings: counts of
//                                                   errors and warnings, every message, and
//                                                   what it found in the file
//        node read.mjs MODULES ply FILE.ply         three.js's PLY loader: positions, faces and
//                                                   the 28 extra bytes of each vertex
// MODULES is the folder that holds node_modules (scripts/install_npm_readers.sh makes it).

import fs from "node:fs";
import path from "node:path";
import { pathToFileURL } from "node:url";

const [modules, mode, file] = process.argv.slice(2);
const load = (relative) => import(pathToFileURL(path.join(modules, "node_modules", relative)).href);
const bytes = fs.readFileSync(file);

if (mode === "validate") {
    const validator = (await load("gltf-validator/index.js")).default;
    const report = await validator.validateBytes(new Uint8Array(bytes));
    const found = report.issues;
    console.log(JSON.stringify({
        errors: found.numErrors,
        warnings: found.numWarnings,
        messages: found.messages.map(({ code, pointer }) => [code, pointer]),
        truncated: found.truncated,
        info: report.info,
    }));
} else if (mode === "ply") {
    const { PLYLoader } = await load("three/examples/jsm/loaders/PLYLoader.js");
    const loader = new PLYLoader();
    const extras = Array.from({ length: 28 }, (_, i) => "extra" + i);
    loader.setCustomPropertyNameMapping(Object.fromEntries(extras.map((name) => [name, [name]])));
    const geometry = loader.parse(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength));
    const positions = geometry.getAttribute("position").array;
    const extra = extras.map((name) => geometry.getAttribute(name).array);
    console.log(JSON.stringify({
        // Float32 values, written as the doubles they equal.
        positions: Array.from(positions),
        faces: Array.from(geometry.index.array),
        extra: Array.from({ length: positions.length / 3 }, (_, v) => extra.map((column) => column[v])),
    }));
} else {
    console.error("usage: node read.mjs MODULES validate|ply FILE");
    process.exit(2);
}
