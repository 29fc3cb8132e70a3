// Writes the README's pictures: doc/kelmem-view.png, the demo's page at
// step 2 (two processes and the what-if markers), 1280x800; and
// doc/kelmem-view-replays.png, fit-best.txt at step 9, where best fit's
// replay refuses the job that first fit places.
// Usage: node tests/browser/screenshot.mjs [KELMEM_VIEW]   (default build/viewer/kelmem-view)
import { chromium } from 'playwright-core';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const root = fileURLToPath(new URL('../..', import.meta.url));
const view = resolve(process.argv[2] || join(root, 'build/viewer/kelmem-view'));
const dir = mkdtempSync(join(tmpdir(), 'kelmem-shot-'));
const html = join(dir, 'demo.html');
execFileSync(view, ['-o', html, 'demo.txt'], { cwd: join(root, 'examples') });
const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium' });
const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
await page.goto(pathToFileURL(html).href + '#step=2');
await page.waitForSelector('html[data-ready="true"]');
await page.screenshot({ path: join(root, 'doc/kelmem-view.png') });
const fit = join(dir, 'fit-best.html');
execFileSync(view, ['-o', fit, 'fit-best.txt'], { cwd: join(root, 'examples') });
await page.setViewportSize({ width: 1280, height: 1000 });
await page.goto(pathToFileURL(fit).href + '#step=9');
await page.waitForSelector('html[data-ready="true"]');
await page.locator('#whatif').screenshot({ path: join(root, 'doc/kelmem-view-replays.png') });
await browser.close();
rmSync(dir, { recursive: true, force: true });
