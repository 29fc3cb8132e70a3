// The kelmem-view page in headless Chromium: pages made by the real program
// from the demo, from a hostile script and as a quiz, stepped with the keys
// and buttons and compared cell by cell with the program's own trace.
// Environment: KELMEM_VIEW (the program), KELMEM_EXAMPLES (the demo folder),
// CHROMIUM (default /usr/bin/chromium); KELMEM_PAGE_KEEP=1 keeps the pages.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, writeFileSync, mkdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch (err) {
  throw new Error('playwright-core is missing: run `npm ci` in tests/browser');
}

const VIEW = process.env.KELMEM_VIEW;
const EXAMPLES = process.env.KELMEM_EXAMPLES;
if (!VIEW || !EXAMPLES) throw new Error('set KELMEM_VIEW and KELMEM_EXAMPLES');

const work = mkdtempSync(join(tmpdir(), 'kelmem-page-'));
let browser;
before(async () => {
  browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium' });
});
after(async () => {
  await browser?.close();
  if (process.env.KELMEM_PAGE_KEEP) console.log('pages kept in ' + work);
  else rmSync(work, { recursive: true, force: true });
});

// Runs kelmem-view in cwd; returns the page's address, the trace's steps and
// the text the page shows as each step's output (banners go with the step
// before them, or with the first step).
function make(cwd, name, scripts, extra = []) {
  const html = join(work, name + '.html');
  execFileSync(VIEW, ['--format=html', '-o', html, ...extra, ...scripts], { cwd });
  const jsonl = execFileSync(VIEW, ['--format=json', ...scripts], { cwd, maxBuffer: 1 << 28 }).toString('utf8');
  const events = jsonl.split('\n').filter(Boolean).map((l) => JSON.parse(l));
  const steps = [], shown = [''];
  for (const e of events) {
    if (e.type === 'step') { steps.push(e); shown[steps.length] = (steps.length === 1 ? shown[0] : '') + e.output; }
    if (e.type === 'banner') shown[steps.length] += e.output;
  }
  return { url: pathToFileURL(html).href, steps, shown };
}

// The owner of every cell after a step, from the trace's process list.
function ownersOf(step) {
  const owners = new Array(1000).fill('free');
  for (const p of step.processes)
    for (const [pos, len] of p.segments)
      for (let a = pos; a < pos + len; a++) owners[a] = 'P' + p.id;
  return owners;
}

// A page that fails the test on a console error, a script error or any
// request but the page itself.
async function open(url, hash = '', contextOptions = {}) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 }, ...contextOptions });
  const page = await context.newPage();
  const problems = [];
  page.on('console', (m) => { if (m.type() === 'error' || m.type() === 'warning') problems.push('console: ' + m.text()); });
  page.on('pageerror', (e) => problems.push('pageerror: ' + e.message));
  page.on('request', (r) => { if (r.url().split('#')[0] !== url) problems.push('request: ' + r.url()); });
  await page.goto(url + hash);
  if (contextOptions.javaScriptEnabled !== false)
    await page.waitForSelector('html[data-ready="true"]');
  return { page, problems, close: () => context.close() };
}

async function shownStep(page) {
  return Number(await page.textContent('#step'));
}

// The cells as the page shows them: data-addr 0..999 once each, in order.
async function expectOwners(page, step, n) {
  const cells = await page.$$eval('[data-addr]', (els) => els.map((e) => [Number(e.dataset.addr), e.dataset.owner]));
  assert.equal(await page.$$eval('[data-owner]', (els) => els.length), 1000, 'data-owner on cells only');
  assert.deepEqual(cells.map((c) => c[0]), [...Array(1000).keys()]);
  assert.deepEqual(cells.map((c) => c[1]), ownersOf(step), `owners at step ${n}`);
}

async function expectStep(page, run, n) {
  assert.equal(await shownStep(page), n);
  await expectOwners(page, run.steps[n - 1], n);
  assert.equal(await page.textContent('#out'), run.shown[n]);
  await page.waitForFunction((h) => location.hash === h, '#step=' + n);
}

test('the demo page steps by keys, buttons and deep links, as the trace says', async () => {
  const run = make(EXAMPLES, 'demo', ['demo.txt']);
  const { url, steps } = run;
  assert.ok(steps.length >= 10);
  const { page, problems, close } = await open(url);
  await expectStep(page, run, 1);
  await page.keyboard.press('ArrowRight');
  await expectStep(page, run, 2);
  await page.keyboard.press('j');
  await page.click('#next');
  await expectStep(page, run, 4);
  await page.keyboard.press('k');
  await expectStep(page, run, 3);
  await page.keyboard.press('End');
  await expectStep(page, run, steps.length);
  await page.click('#prev');
  await page.keyboard.press('ArrowLeft');
  await expectStep(page, run, steps.length - 2);
  await page.click('#first');
  await expectStep(page, run, 1);
  await page.click('#last');
  await page.keyboard.press('Home');
  await expectStep(page, run, 1);
  // The address drives the page too.
  await page.evaluate(() => { location.hash = '#step=13'; });
  await page.waitForFunction(() => document.getElementById('step').textContent === '13');
  await expectStep(page, run, 13);
  assert.match(await page.textContent('#announce'), /^Step 13 of \d+: demo\.txt line 13/);
  // A cell tells what it is when focused.
  await page.focus('[data-addr="105"]');
  assert.match(await page.textContent('#detail'), /^Cell 105 · P1, segment 1 \(data, cells 103-106\) · integer 42/);
  // The timeline's ends are the first and the last step.
  const box = await page.locator('#timeline').boundingBox();
  await page.mouse.click(box.x + box.width - 9, box.y + 20);
  await expectStep(page, run, steps.length);
  await page.mouse.click(box.x + 45, box.y + 20);
  await expectStep(page, run, 1);
  await close();

  const deep = await open(url, '#step=9');
  await expectStep(deep.page, run, 9);
  await deep.close();
  assert.deepEqual([...problems, ...deep.problems], []);
});

// A script whose every piece of text tries to become markup or code.
let hostile;
function hostileRun() {
  if (hostile) return hostile;
  const dir = join(work, 'hostile');
  mkdirSync(dir);
  const load = "<i>'&q\".txt";
  writeFileSync(join(dir, load), '8585\n2\n2 3\nRUN HALT\n"</script><b>\n#7\n"<img/src/onerror=\n');
  writeFileSync(join(dir, 'ten.txt'), '8585\n1\n10\nRUN RUN RUN RUN RUN RUN RUN RUN RUN HALT\n');
  const first = '"\'<b onclick=pwn()>&amp;.txt';
  const second = '<img src=x onerror=pwn()>\u2028.txt';
  writeFileSync(join(dir, first), [
    `P1 LoadFile @0 "${load}`,
    'P2 LoadFile @20 "ten.txt',
    'P3 LoadFile @40 "ten.txt',
    'P2 TerminateProcess // </script><script>pwn()</script><img src=x onerror=pwn()>',
    'P1 STORE @3 "<img/src/onerror=a>',
    'P4 LoadFile @900 "ten.txt \u2028\u2029 <svg onload=pwn()>',
    'P5 LoadFile @0 "<svg/onload=pwn()>',
    'P6 LoadFile @5 "ten.txt',
    ''].join('\n'));
  writeFileSync(join(dir, second), Buffer.concat([
    Buffer.from('P7 STORE @1 "\xff\xfe<\u00e9>\n', 'latin1'),
    Buffer.from('P1 STORE @4 "a&lt;b\'"`\nP0 PrintAllMemory\n')]));
  return (hostile = make(dir, 'hostile', [first, second]));
}

test('nothing in a hostile run becomes markup or runs', async () => {
  const { url, steps, shown } = hostileRun();
  // Without the page's content policy, so that anything injected would run.
  const { page, problems, close } = await open(url, '', { bypassCSP: true });
  await page.evaluate(() => { window.pwn = () => { window.pwned = true; }; });
  for (let n = 1; n <= steps.length; n++) {
    assert.equal(await page.textContent('#src'), steps[n - 1].text);
    assert.equal(await page.textContent('#out'), shown[n]);
    await page.focus(`[data-addr="${n}"]`);
    await page.keyboard.press('j');
  }
  await page.hover('[data-addr="3"]');
  assert.ok((await page.textContent('#detail')).endsWith('string "<img/src/onerror=a>"'));
  const found = await page.evaluate(() => ({
    pwned: window.pwned === true,
    scripts: document.scripts.length,
    foreign: document.querySelectorAll('img, iframe, object, embed, svg:not(#timeline), a, form').length,
    handlers: [...document.querySelectorAll('*')].flatMap((e) => [...e.attributes].map((a) => a.name)).filter((n) => n.startsWith('on')),
    files: document.getElementById('meta').textContent
  }));
  assert.deepEqual(found, { pwned: false, scripts: 3, foreign: 0, handlers: [],
    files: '"\'<b onclick=pwn()>&amp;.txt <img src=x onerror=pwn()>\u2028.txt  ·  kelmem ' + found.files.split('kelmem ')[1] });
  assert.deepEqual(problems, []);
  await close();

  // Without scripts the final-state table shows, and it is plain text too.
  const nojs = await open(url, '', { javaScriptEnabled: false });
  const plain = await nojs.page.evaluate(() => ({
    table: document.querySelectorAll('noscript table').length > 0,
    foreign: document.querySelectorAll('img, iframe, object, embed, b, a').length
  }));
  assert.deepEqual(plain, { table: true, foreign: 0 });
  await nojs.close();
});

test('the what-if markers stand where the trace places each policy', async () => {
  const { url, steps } = hostileRun();
  const loads = steps.map((s, i) => [s, i + 1]).filter(([s]) => s.placements);
  assert.ok(loads.length >= 4);
  const { page, problems, close } = await open(url);
  let distinct = new Set();
  for (const [s, n] of loads) {
    await page.evaluate((h) => { location.hash = h; }, '#step=' + n);
    await page.waitForFunction((k) => document.getElementById('step').textContent === k, String(n));
    const marks = await page.$$eval('.mk', (els) => els.map((e) => [e.dataset.policy, Number(e.parentElement.dataset.addr)]));
    const want = Object.entries(s.placements).filter(([, pos]) => pos !== null);
    assert.deepEqual(new Map(marks), new Map(want), `markers at step ${n}`);
    distinct = new Set([...distinct, ...want.map(([, pos]) => pos)]);
  }
  assert.ok(distinct.size >= 3, 'the policies disagree somewhere');
  assert.deepEqual(problems, []);
  await close();
});

// What the page draws from the state: tables, histogram, timeline, map.
const stateShown = (page) => page.evaluate(() => [
  ...['procs', 'stats', 'free', 'hist'].map((id) => document.getElementById(id).textContent),
  document.querySelector('#timeline clipPath rect').getAttribute('width'),
  [...document.querySelectorAll('[data-addr]')].map((e) => e.dataset.owner + e.dataset.kind).join()]);

test('a quiz hides each result until predicted, offers fixed choices and keeps the score', async () => {
  const { url, steps, shown } = make(EXAMPLES, 'quiz', ['demo.txt'], ['--quiz']);
  const N = steps.length;
  // A deep link, Next and End stop at the first step still to predict.
  const { page, problems, close } = await open(url, '#step=5');
  for (const key of ['ArrowRight', 'End', 'j']) await page.keyboard.press(key);
  assert.equal(await shownStep(page), 1);
  assert.ok(await page.isDisabled('#next'));
  await page.waitForFunction(() => location.hash === '#step=1');
  assert.doesNotMatch(await page.textContent('#out'), /LoadFile/);
  await expectOwners(page, { processes: [] }, 0);
  // Step by step: predict no error line, with 0 holes where asked (step 1:
  // the right numbers); a step not yet predicted shows the state before it.
  const choices = new Map(), mixed = new Map();
  let right = 0, before = null;
  for (let n = 1; n < N; n++) {
    const s = steps[n - 1], asks = await page.$('#quiz input[name=holes]');
    assert.equal(await shownStep(page), n);
    if (before) assert.deepEqual(await stateShown(page), before, `state at step ${n} before predicting`);
    assert.equal(await page.$$eval('.mk', (els) => els.length), 0);
    const list = await page.$$eval('#quiz input[name=err]', (els) => els.map((e) => e.parentElement.textContent.trim()));
    const command = s.text.split(/\s+/)[1];
    assert.ok(list.includes(s.error || 'none: no error line'), `the answer among the choices at step ${n}`);
    if (choices.has(command)) assert.deepEqual(list, choices.get(command), `choices at step ${n}`);
    choices.set(command, list);
    mixed.set(command, (mixed.get(command) || 0) | (s.error ? 1 : 2));
    await page.check('#quiz input[name=err][value="0"]');
    const holes = n === 1 ? [s.stats.holes, s.stats.largest] : [0, 0];
    if (asks) {
      await page.fill('#quiz input[name=holes]', String(holes[0]));
      await page.fill('#quiz input[name=largest]', String(holes[1]));
    }
    await page.click('#quiz button[type=submit]');
    const ok = !s.error && (!asks || (s.stats.holes === holes[0] && s.stats.largest === holes[1]));
    right += ok;
    assert.match(await page.textContent('#quiz'), ok ? /^Right\./ : /^Not quite\./, `verdict at step ${n}`);
    assert.equal(await page.textContent('#out'), shown[n]);
    await expectOwners(page, s, n);
    before = await stateShown(page);
    await page.keyboard.press('ArrowRight');
  }
  assert.ok([...mixed.values()].includes(3), 'some command both fails and succeeds');
  assert.equal(await page.textContent('#score'), `Score: ${right} of ${N - 1} right`);
  assert.deepEqual(await stateShown(page), before);
  await page.click('#revealAll');
  await page.keyboard.press('Home');
  await page.keyboard.press('End');
  assert.equal(await page.textContent('#out'), shown[N]);
  await expectOwners(page, steps[N - 1], N);
  assert.equal(await page.textContent('#score'), `Score: ${right} of ${N - 1} right`);
  assert.deepEqual(problems, []);
  await close();
});
