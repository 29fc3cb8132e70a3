// Writes the playground page: playground/shell.html with the app's script,
// the engine (emscripten's JavaScript and the worker's, as one text for a
// Blob worker), the module's bytes and the examples put in, and a
// Content-Security-Policy that lets run only the app's script, the
// kelmem-view page's script (shown in a frame, a blob: document that
// inherits the policy)
// and WebAssembly, with workers and frames from blob: only.
//
// node build.mjs --engine engine.js --wasm engine.wasm --view-page page.html
//   --examples DIR --out playground.html
import { createHash } from 'node:crypto';
import { readFileSync, readdirSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const opt = {};
for (let i = 2; i < process.argv.length; i += 2) opt[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
for (const k of ['engine', 'wasm', 'view-page', 'examples', 'out'])
  if (!opt[k]) throw new Error(`build.mjs: --${k} is missing`);

const read = (p) => readFileSync(p, 'utf8');
const hash = (text) => `'sha256-${createHash('sha256').update(text, 'utf8').digest('base64')}'`;

// Text that goes inside a <script> element must not end it early or open a
// comment that would hide its end.
function scriptSafe(text, what) {
  if (/<\/script|<!--|<script/i.test(text)) throw new Error(`build.mjs: ${what} holds a <script or <!-- sequence`);
  return text;
}

const viewPage = read(opt['view-page']);
const viewScript = /<script>([\s\S]*?)<\/script>/.exec(viewPage);
if (!viewScript) throw new Error('build.mjs: no inline script in ' + opt['view-page']);

const app = scriptSafe(read(join(here, 'app.js')), 'app.js');
const engine = scriptSafe(read(opt.engine) + '\n' + read(join(here, 'worker.js')), 'the engine');
const wasm = readFileSync(opt.wasm).toString('base64');
const examples = {};
for (const f of readdirSync(opt.examples).sort())
  if (f.endsWith('.txt')) examples[f] = readFileSync(join(opt.examples, f)).toString('base64');

const csp = ["default-src 'none'", `script-src ${hash(app)} ${hash(viewScript[1])} 'wasm-unsafe-eval'`,
  'worker-src blob:', 'frame-src blob:', "style-src 'unsafe-inline'", 'img-src data:', "base-uri 'none'", "form-action 'none'"].join('; ');

const parts = {
  '<!--@CSP@-->': `<meta http-equiv="Content-Security-Policy" content="${csp}">`,
  '/*@APP@*/': app,
  '<!--@DATA@-->': [
    `<script type="text/plain" id="kp-engine">${engine}</script>`,
    `<script type="text/plain" id="kp-wasm">${wasm}</script>`,
    `<script type="application/json" id="kp-examples">${JSON.stringify(examples)}</script>`,
  ].join('\n'),
};
let page = read(join(here, 'shell.html'));
for (const [place, text] of Object.entries(parts)) {
  if (page.split(place).length !== 2) throw new Error(`build.mjs: shell.html must hold ${place} once`);
  page = page.replace(place, () => text);
}
writeFileSync(opt.out, page);
