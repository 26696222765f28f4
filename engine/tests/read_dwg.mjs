// Reads one DWG file with an independent reader (the npm WASM builds of LibreDWG and libdxfrw, test tools only)
// and prints what it found as JSON on its last line. One file per process: a second read can crash the module.
//   node read_dwg.mjs libredwg|libdxfrw <node_modules dir> <file.dwg> [out.dxf]
// libredwg: {"error": bits, "magic", "objects", "modelSpace": {"LINE": n, ...}, "modelSpaceTotal", "dxf", "dxfError"}
//           (with out.dxf: LibreDWG's DXF of the file is written there)
// libdxfrw: {"ok", "error": DRW error value, "entities", "byType": {"<entity type value>": n}}
import { readFileSync, writeFileSync, writeSync } from 'node:fs';
import { pathToFileURL } from 'node:url';
import path from 'node:path';

const [reader, modulesDir, file, dxfOut] = process.argv.slice(2);
const bytes = new Uint8Array(readFileSync(file));
const load = async (js) => (await import(pathToFileURL(path.join(modulesDir, js)).href)).default();
let out;
if (reader === 'libdxfrw') {
    const lib = await load('@mlightcad/libdxfrw-web/dist/libdxfrw.js');
    const handler = new lib.DRW_FileHandler();
    handler.database = new lib.DRW_Database();
    const dwg = new lib.DRW_DwgR(bytes);
    const ok = dwg.read(handler, false);
    out = { ok, error: dwg.getError().value, entities: 0, byType: {} };
    const entities = handler.database.mBlock ? handler.database.mBlock.entities : null;
    for (let i = 0, n = entities ? entities.size() : 0; i < n; ++i) {
        const type = entities.get(i).eType.value;
        out.byType[type] = (out.byType[type] || 0) + 1;
        out.entities++;
    }
} else {
    const lib = await load('@mlightcad/libredwg-web/wasm/libredwg-web.js');
    lib.FS.writeFile('in.dwg', bytes);
    const result = lib.dwg_read_file('in.dwg');
    const data = result.data;
    out = { error: result.error, magic: String.fromCharCode(...bytes.slice(0, 6)), objects: 0, modelSpace: {},
            modelSpaceTotal: 0, dxf: null };
    if (data) {
        out.objects = lib.dwg_get_num_objects(data);
        const ms = lib.dwg_model_space_object(data);
        for (let e = ms ? lib.get_first_owned_entity(ms) : 0; e; e = lib.get_next_owned_entity(ms, e)) {
            const name = lib.dwg_object_get_dxfname(e);
            out.modelSpace[name] = (out.modelSpace[name] || 0) + 1;
            out.modelSpaceTotal++;
        }
    }
    if (dxfOut && data && result.error < 0x80) {
        out.dxfError = lib.dwg_write_dxf('in.dwg', 'out.dxf');
        if (out.dxfError < 0x80) {
            writeFileSync(dxfOut, lib.FS.readFile('out.dxf'));
            out.dxf = dxfOut;
        }
    }
}
// Both readers log to standard output: the JSON goes on a line of its own, the last. Then end at once: after writing
// a DXF file, tearing down the LibreDWG module keeps node busy for half a minute even past process.exit().
writeSync(1, '\n' + JSON.stringify(out) + '\n');
process.kill(process.pid, 'SIGKILL');
