// Reads one DWG file with LibreDWG (WASM build, a test tool only) and prints what it found as JSON:
//   {"error": <bits>, "magic": "AC1015", "version": <LibreDWG's version number>, "objects": N, "modelSpace": {"LINE": n, ...}, "dxf": "<path>"|null}
// Usage: node read_dwg.mjs <node_modules dir> <file.dwg> [out.dxf]
// One file per process: a second read in the same process can crash the WASM module.
import { readFileSync, writeFileSync } from 'node:fs';
import { pathToFileURL } from 'node:url';
import path from 'node:path';

const [modulesDir, file, dxfOut] = process.argv.slice(2);
if (!modulesDir || !file) {
    console.error('usage: node read_dwg.mjs <node_modules dir> <file.dwg> [out.dxf]');
    process.exit(2);
}
const wasmJs = path.join(modulesDir, '@mlightcad/libredwg-web/wasm/libredwg-web.js');
const { default: createModule } = await import(pathToFileURL(wasmJs).href);
const lib = await createModule();

// LibreDWG logs to stdout; keep our JSON on its own last line.
const bytes = new Uint8Array(readFileSync(file));
lib.FS.writeFile('in.dwg', bytes);
const result = lib.dwg_read_file('in.dwg');
const data = result.data;
const out = { error: result.error, magic: String.fromCharCode(...bytes.slice(0, 6)), version: null, objects: 0, modelSpace: {}, modelSpaceTotal: 0, dxf: null };
if (data) {
    out.version = lib.dwg_get_version_type(data);
    out.objects = lib.dwg_get_num_objects(data);
    const ms = lib.dwg_model_space_object(data);
    if (ms) {
        for (let e = lib.get_first_owned_entity(ms); e; e = lib.get_next_owned_entity(ms, e)) {
            const name = lib.dwg_object_get_dxfname(e);
            out.modelSpace[name] = (out.modelSpace[name] || 0) + 1;
            out.modelSpaceTotal++;
        }
    }
}
if (dxfOut && data && result.error < 0x80) {
    const rc = lib.dwg_write_dxf('in.dwg', 'out.dxf');
    if (rc === 0 || rc < 0x80) {
        writeFileSync(dxfOut, lib.FS.readFile('out.dxf'));
        out.dxf = dxfOut;
    }
    out.dxfError = rc;
}
process.stdout.write('\n' + JSON.stringify(out) + '\n');
