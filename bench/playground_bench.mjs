// Times the playground page in headless Chromium: for the demo and for a
// 10,000-line script of bench/gen.py, each opened from a share link, how long
// from opening the link (a fresh browser context) to the output of a run
// started at once, how long a click on Run in a page already open takes
// until the output is shown (#output gets data-done),
// until the kelmem-view page of the run is ready in its frame, and how long
// the engine itself took (the page's status line). Medians of RUNS rounds,
// each in a fresh browser context; also the page's size.
// Usage: node bench/playground_bench.mjs [PAGE [RUNS]]   (default
// build/playground.html, 5; npm ci in tests/browser first)
import { createRequire } from 'node:module';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, rmSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { deflateRawSync } from 'node:zlib';

const require = createRequire(new URL('../tests/browser/package.json', import.meta.url));
const { chromium } = require('playwright-core');
const page = resolve(process.argv[2] || 'build/playground.html');
const runs = Number(process.argv[3] || 5);
const url = pathToFileURL(page).href;
const here = dirname(fileURLToPath(import.meta.url));

function filesOf(dir) {
  const files = {};
  for (const f of readdirSync(dir)) if (f.endsWith('.txt')) files[f] = readFileSync(join(dir, f), 'utf8');
  return files;
}
const link = (args, files) => url + '#files=' + deflateRawSync(Buffer.from(JSON.stringify({ args, files }))).toString('base64url');

const work = mkdtempSync(join(tmpdir(), 'kelmem-pgbench-'));
execFileSync('python3', [join(here, 'gen.py'), '10000', work]);
const cases = [
  ['demo', link(['demo.txt'], filesOf(join(here, '..', 'examples')))],
  ['10,000 lines', link(['script.txt'], filesOf(work))],
];
rmSync(work, { recursive: true, force: true });

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium' });
console.log(`page: ${page}, ${statSync(page).size} bytes; medians of ${runs} rounds`);
console.log('| run | output lines | open to output ms | click to output ms | click to map ready ms | engine ms |');
console.log('|---|---|---|---|---|---|');
for (const [name, address] of cases) {
  const cold = [], shown = [], ready = [], engine = [];
  let lines = 0;
  for (let i = 0; i < runs; i++) {
    // From opening the link to the first output, the engine started anew.
    let ctx = await browser.newContext();
    let p = await ctx.newPage();
    const opened = Date.now();
    await p.goto(address);
    await p.waitForFunction(() => /^Opened/.test(document.getElementById('status').textContent));
    await p.click('#run');
    await p.waitForSelector('#output[data-done]');
    cold.push(Date.now() - opened);
    await ctx.close();
    // A run of a page already open.
    ctx = await browser.newContext();
    p = await ctx.newPage();
    await p.goto(address);
    await p.waitForFunction(() => /^Opened/.test(document.getElementById('status').textContent));
    await p.waitForTimeout(200);
    const t = await p.evaluate(() => new Promise((done) => {
      const start = performance.now();
      const out = document.getElementById('output');
      const view = document.getElementById('view');
      let first = 0;
      new MutationObserver(() => { if (out.hasAttribute('data-done') && !first) first = performance.now(); })
        .observe(out, { attributes: true });
      view.addEventListener('load', () => done({ first: first - start, map: performance.now() - start }), { once: true });
      document.getElementById('run').click();
    }));
    await p.frameLocator('#view').locator('html[data-ready="true"]').waitFor();
    const status = await p.textContent('#status');
    engine.push(Number(/Ran in (\d+) ms/.exec(status)[1]));
    lines = (await p.textContent('#output')).split('\n').length - 1;
    shown.push(t.first);
    ready.push(t.map);
    await ctx.close();
  }
  console.log(`| ${name} | ${lines} | ${median(cold)} | ${median(shown).toFixed(0)} | ${median(ready).toFixed(0)} | ${median(engine)} |`);
}
await browser.close();
