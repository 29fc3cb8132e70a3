// Times the kelmem-view page on a long run in headless Chromium: how long
// until the page is ready, and how long one step takes (the page's own work
// plus style and layout, forced after each step).
// Usage: node bench/page_bench.mjs [KELMEM_VIEW [STEPS]]   (default build/viewer/kelmem-view,
// 10000 steps; npm ci in tests/browser first)
import { createRequire } from 'node:module';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, writeFileSync, rmSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

const require = createRequire(new URL('../tests/browser/package.json', import.meta.url));
const { chromium } = require('playwright-core');
const view = resolve(process.argv[2] || 'build/viewer/kelmem-view');
const steps = Number(process.argv[3] || 10000);

// Load files of 3 to 60 cells; processes come and go at addresses that leave
// holes, so the free list and the map change at most steps.
function writeRun(dir) {
  const sizes = [3, 5, 8, 13, 21, 34, 60];
  sizes.forEach((n, i) => {
    const code = Array.from({ length: n - 1 }, () => 'RUN').concat('HALT').join(' ');
    writeFileSync(join(dir, `f${i}.txt`), `8585\n1\n${n}\n${code}\n`);
  });
  const lines = [];
  let seed = 12345;
  const rnd = (m) => { seed = (seed * 1103515245 + 12345) % 2147483648; return seed % m; };
  const loaded = new Array(10).fill(false);
  while (lines.length < steps) {
    const p = rnd(10);
    if (loaded[p]) {
      lines.push(rnd(3) ? `P${p} TerminateProcess` : `P${p} PrintProcessTable`);
      if (lines.at(-1).includes('Terminate')) loaded[p] = false;
    } else {
      lines.push(`P${p} LoadFile @${rnd(940)} "f${rnd(sizes.length)}.txt`);
      loaded[p] = true;  // a failed load is terminated next time: refused, also a step
    }
  }
  writeFileSync(join(dir, 'run.txt'), lines.join('\n') + '\n');
}

const dir = mkdtempSync(join(tmpdir(), 'kelmem-bench-'));
writeRun(dir);
const html = join(dir, 'run.html');
let t = process.hrtime.bigint();
execFileSync(view, ['-o', html, 'run.txt'], { cwd: dir });
const writeMs = Number(process.hrtime.bigint() - t) / 1e6;

const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium' });
const ready = [];
for (let i = 0; i < 5; i++) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  await page.goto(pathToFileURL(html).href);
  await page.waitForSelector('html[data-ready="true"]');
  ready.push(await page.evaluate(() => performance.getEntriesByName('kelmem-ready')[0].startTime));
  if (i < 4) await page.close();
  else {
    const per = await page.evaluate(({ n }) => {
      const key = (k) => document.dispatchEvent(new KeyboardEvent('keydown', { key: k, bubbles: true }));
      const time = (f) => { const t0 = performance.now(); f(); void document.body.offsetHeight; return performance.now() - t0; };
      const out = { end: time(() => key('End')), home: time(() => key('Home')), next: [], jump: [] };
      for (let i = 0; i < 1000; i++) out.next.push(time(() => key('j')));
      for (let i = 0; i < 300; i++) {
        const to = 1 + Math.floor(Math.random() * n);
        out.jump.push(time(() => { location.hash = '#step=' + to; window.dispatchEvent(new HashChangeEvent('hashchange')); }));
      }
      return out;
    }, { n: steps });
    const stat = (a) => {
      const s = [...a].sort((x, y) => x - y);
      return `mean ${(s.reduce((x, y) => x + y, 0) / s.length).toFixed(2)} ms, p95 ${s[Math.floor(s.length * 0.95)].toFixed(2)} ms, max ${s.at(-1).toFixed(2)} ms`;
    };
    console.log(`steps ${steps}, page ${(statSync(html).size / 1e6).toFixed(1)} MB, written in ${writeMs.toFixed(0)} ms`);
    console.log(`ready after (5 loads): ${ready.map((r) => r.toFixed(0)).join(', ')} ms from navigation start`);
    console.log(`first jump to the last step ${per.end.toFixed(2)} ms, back to the first ${per.home.toFixed(2)} ms`);
    console.log(`next step (1000 in a row): ${stat(per.next)}`);
    console.log(`deep-link jump (300 random): ${stat(per.jump)}`);
  }
}
await browser.close();
rmSync(dir, { recursive: true, force: true });
