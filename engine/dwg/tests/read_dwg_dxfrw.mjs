// A second opinion: reads one DWG file with libdxfrw (WASM build, a test tool only) and prints JSON:
//   {"ok": true|false, "error": <DWR_Error value>, "entities": N, "byType": {"<eType>": n}}
// Usage: node read_dwg_dxfrw.mjs <node_modules dir> <file.dwg>
import { readFileSync } from 'node:fs';
import { pathToFileURL } from 'node:url';
import path from 'node:path';

const [modulesDir, file] = process.argv.slice(2);
const js = path.join(modulesDir, '@mlightcad/libdxfrw-web/dist/libdxfrw.js');
const { default: createModule } = await import(pathToFileURL(js).href);
const lib = await createModule();

const database = new lib.DRW_Database();
const handler = new lib.DRW_FileHandler();
handler.database = database;
const dwg = new lib.DRW_DwgR(new Uint8Array(readFileSync(file)));
const ok = dwg.read(handler, false);
const out = { ok, error: dwg.getError().value, entities: 0, byType: {} };
const entities = handler.database.mBlock ? handler.database.mBlock.entities : null;
if (entities) {
    for (let i = 0, n = entities.size(); i < n; ++i) {
        const type = entities.get(i).eType.value;
        out.byType[type] = (out.byType[type] || 0) + 1;
        out.entities++;
    }
}
process.stdout.write('\n' + JSON.stringify(out) + '\n');
