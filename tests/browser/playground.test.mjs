// The playground page in headless Chromium: share links made here with
// node's own DEFLATE, runs compared byte for byte with the native kelmem and
// cell by cell with kelmem-view's trace, edits, the page's own links, and
// hostile files. No request may leave the page (blob: documents and workers
// are the page's own) and no console error may occur.
// Environment: KELMEM_PLAYGROUND (the page), KELMEM, KELMEM_VIEW (the native
// programs), KELMEM_EXAMPLES (examples/), CHROMIUM (default /usr/bin/chromium).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { deflateRawSync, inflateRawSync } from 'node:zlib';

const { KELMEM_PLAYGROUND: PAGE, KELMEM, KELMEM_VIEW: VIEW, KELMEM_EXAMPLES: EXAMPLES } = process.env;
if (!PAGE || !KELMEM || !VIEW || !EXAMPLES) throw new Error('set KELMEM_PLAYGROUND, KELMEM, KELMEM_VIEW and KELMEM_EXAMPLES');
if (!existsSync(PAGE)) throw new Error(`${PAGE} is not built (make playground)`);
const { chromium } = await import('playwright-core');
const url = pathToFileURL(PAGE).href;

const work = mkdtempSync(join(tmpdir(), 'kelmem-playground-'));
let browser;
before(async () => {
  browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium' });
});
after(async () => {
  await browser?.close();
  rmSync(work, { recursive: true, force: true });
});

// A share link as a teacher's script would make it.
function linkFor(args, files, base64 = {}) {
  const doc = { args, files };
  if (Object.keys(base64).length) doc.base64 = base64;
  return url + '#files=' + deflateRawSync(Buffer.from(JSON.stringify(doc), 'utf8')).toString('base64url');
}

// Runs a native program on files (name -> Buffer) in a folder of their own.
let runs = 0;
function native(program, args, files) {
  const dir = join(work, 'run' + ++runs);
  execFileSync('mkdir', [dir]);
  for (const [name, bytes] of Object.entries(files)) writeFileSync(join(dir, name), bytes);
  return execFileSync(program, args, { cwd: dir, maxBuffer: 1 << 28 });
}

function ownersAtEnd(files, args) {
  const events = native(VIEW, ['--format=json', ...args], files).toString('utf8').split('\n').filter(Boolean).map((l) => JSON.parse(l));
  const last = events.filter((e) => e.type === 'step').at(-1);
  const owners = new Array(1000).fill('free');
  for (const p of last.processes)
    for (const [pos, len] of p.segments)
      for (let a = pos; a < pos + len; a++) owners[a] = 'P' + p.id;
  return owners;
}

// A fresh browser profile (nothing kept), failing the test on a console
// error, an uncaught error, a dialog not expected or a request to anywhere
// but the page itself and its blob: documents.
async function open(link, context) {
  const ctx = context || await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const page = await ctx.newPage();
  const problems = [];
  page.on('console', (m) => { if (m.type() === 'error' || m.type() === 'warning') problems.push('console: ' + m.text()); });
  page.on('pageerror', (e) => problems.push('pageerror: ' + e.message));
  page.on('request', (r) => {
    const u = r.url();
    if (u.split('#')[0] !== url && !u.startsWith('blob:')) problems.push('request: ' + u);
  });
  page.dialogs = [];
  page.on('dialog', (d) => { page.dialogs.push(d.message()); d.accept(); });
  await page.goto(link);
  await page.waitForSelector('html[data-ready="true"]');
  return { page, problems, ctx };
}

async function run(page, how = 'click') {
  const before = await page.$eval('#view', (f) => f.src);
  if (how === 'click') await page.click('#run');
  else await page.keyboard.press('Control+Enter');
  await page.waitForSelector('#output[data-done]');
  await page.waitForFunction((b) => document.getElementById('view').src !== b, before);
  return page.textContent('#output');
}

async function ownersShown(page) {
  const frame = page.frameLocator('#view');
  await frame.locator('html[data-ready="true"]').waitFor();
  await frame.locator('#last').click();
  return frame.locator('[data-addr]').evaluateAll((els) => els.map((e) => [Number(e.dataset.addr), e.dataset.owner]));
}

const exampleFiles = {};
for (const f of readdirSync(EXAMPLES).filter((f) => f.endsWith('.txt'))) exampleFiles[f] = readFileSync(join(EXAMPLES, f));
const asText = (files) => Object.fromEntries(Object.entries(files).map(([n, b]) => [n, b.toString('utf8')]));

test('a link made from an example runs as kelmem does, and the map ends as the trace', async () => {
  const args = ['fit-best.txt', 'demo.txt'];
  const { page, problems, ctx } = await open(linkFor(args, asText(exampleFiles)));
  assert.equal(await page.inputValue('#args'), args.join(' '));
  const shown = await run(page);
  assert.equal(shown, native(KELMEM, args, exampleFiles).toString('utf8'));
  assert.equal(await page.$$eval('#output .err', (els) => els.every((e) => e.textContent.startsWith('******* ERROR: '))), true);
  assert.ok(await page.$$eval('#output .err', (els) => els.length) > 3);
  const cells = await ownersShown(page);
  assert.deepEqual(cells.map((c) => c[0]), [...Array(1000).keys()]);
  assert.deepEqual(cells.map((c) => c[1]), ownersAtEnd(exampleFiles, args));
  assert.deepEqual(problems, []);
  await ctx.close();
});

test('an edit runs at once and survives a reload; the page\'s own link opens the same bytes', async () => {
  // A CRLF script, a load file without a last line feed and one with bytes
  // that are not UTF-8 (carried as base64).
  const files = {
    'crlf.txt': Buffer.from('P1 LoadFile @10 "odd.txt\r\n\r\nP2 LoadFile @50 "end.txt\r\nP0 PrintAllMemory\r\n'),
    'end.txt': Buffer.from('8585\n1\n2\nRUN HALT'),
    'odd.txt': Buffer.from('8585\n2\n1 2\nHALT\n"\xff\xfe #9\n', 'latin1'),
  };
  const link = linkFor(['crlf.txt'], { 'crlf.txt': files['crlf.txt'].toString(), 'end.txt': files['end.txt'].toString() },
    { 'odd.txt': files['odd.txt'].toString('base64') });
  const { page, problems, ctx } = await open(link);
  assert.equal(await run(page), native(KELMEM, ['crlf.txt'], files).toString('utf8'));

  // Edited through the page: the CRLF line ends stay.
  await page.click('#files button[data-name="crlf.txt"]');
  await page.fill('#editor', 'P1 LoadFile @10 "odd.txt\nP1 STORE @12 "edited\nP1 PrintProcessMemory\n');
  files['crlf.txt'] = Buffer.from('P1 LoadFile @10 "odd.txt\r\nP1 STORE @12 "edited\r\nP1 PrintProcessMemory\r\n');
  await page.focus('#editor');
  assert.equal(await run(page, 'keys'), native(KELMEM, ['crlf.txt'], files).toString('utf8'));
  await page.waitForFunction(() => document.getElementById('saved').textContent === 'saved in this browser');
  await page.reload();
  await page.waitForSelector('html[data-ready="true"]');
  assert.match(await page.inputValue('#editor'), /"edited\n/);

  // The link the page makes holds exactly these bytes.
  await page.click('#copy-link');
  await page.waitForFunction(() => document.getElementById('link').value.includes('#files='));
  const made = await page.inputValue('#link');
  const doc = JSON.parse(inflateRawSync(Buffer.from(made.split('#files=')[1], 'base64url')).toString('utf8'));
  assert.deepEqual(doc, { args: ['crlf.txt'], files: { 'crlf.txt': files['crlf.txt'].toString(), 'end.txt': files['end.txt'].toString() },
    base64: { 'odd.txt': files['odd.txt'].toString('base64') } });

  // Opened over the edited work it asks first; then it runs the same.
  await page.goto(made);
  await page.waitForFunction(() => /^Opened the link/.test(document.getElementById('status').textContent));
  assert.equal(page.dialogs.length, 1);
  assert.equal(await run(page), native(KELMEM, ['crlf.txt'], files).toString('utf8'));
  // Over work just opened, unedited, it asks nothing.
  await page.goto(linkFor(['end.txt'], { 'end.txt': 'x' }));
  await page.waitForFunction(() => document.getElementById('args').value === 'end.txt');
  assert.equal(page.dialogs.length, 1);
  assert.deepEqual(problems, []);
  await ctx.close();
});

test('hostile files stay inert text', async () => {
  const script = [
    'P1 LoadFile @0 "x.txt // </script><script>pwn()</script><img src=x onerror=pwn()>',
    'P1 STORE @3 "<img/src/onerror=a>',
    'P1 STORE @4 "</script>\u2028\u2029',
    ''].join('\n');
  const files = {
    'hostile.txt': Buffer.concat([Buffer.from(script), Buffer.from('P1 STORE @5 "\xff<b>\xfe\n', 'latin1')]),
    'x.txt': Buffer.from('8585\n2\n2 5\nRUN HALT\n"</script><b>\n'),
  };
  const link = linkFor(['hostile.txt', 'nosuch.txt'], { 'x.txt': files['x.txt'].toString() },
    { 'hostile.txt': files['hostile.txt'].toString('base64') });
  const { page, problems, ctx } = await open(link);
  await page.evaluate(() => { window.pwn = () => { window.pwned = true; }; });
  const shown = await run(page);
  assert.equal(shown, new TextDecoder().decode(native(KELMEM, ['hostile.txt', 'nosuch.txt'], files)));
  await ownersShown(page);
  const found = await page.evaluate(() => ({
    pwned: window.pwned === true,
    markup: document.querySelectorAll('#output *:not(span.err), img, b, main script, iframe:not(#view)').length,
  }));
  assert.deepEqual(found, { pwned: false, markup: 0 });
  const inFrame = await page.frameLocator('#view').locator('html').evaluate((root) => ({
    images: root.querySelectorAll('img').length,
    scripts: root.querySelectorAll('script').length,
    handlers: [...root.querySelectorAll('*')].flatMap((e) => [...e.attributes].map((a) => a.name)).filter((n) => n.startsWith('on')),
  }));
  assert.deepEqual(inFrame, { images: 0, scripts: 3, handlers: [] });
  // A name that is no file name is refused, with the reason.
  await page.goto(linkFor(['a.txt'], { '<img src=x onerror=pwn()>': 'P0 END' }));
  await page.waitForFunction(() => /could not be opened/.test(document.getElementById('status').textContent));
  assert.equal(await page.locator('img').count(), 0);
  assert.deepEqual(page.dialogs, []);
  assert.deepEqual(problems, []);
  await ctx.close();
});
