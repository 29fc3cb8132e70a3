// The kelmem-view page in headless Chromium: pages made by the real program
// from the demo, from a hostile script and as a quiz, stepped with the keys
// and buttons and compared cell by cell with the program's own trace.
// Environment: KELMEM_VIEW (the program), KELMEM_EXAMPLES (the demo folder),
// CHROMIUM (default /usr/bin/chromium); KELMEM_PAGE_KEEP=1 keeps the pages.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFile, execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, writeFileSync, mkdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { promisify } from 'node:util';

const execFileAsync = promisify(execFile);

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

// Text as the page shows it: a byte that is not UTF-8 (\udcXX in the trace)
// as \xXX.
const visible = (t) => t.replace(/[\udc80-\udcff]/g, (c) => '\\x' + (c.charCodeAt(0) - 0xdc00).toString(16).toUpperCase());

// Runs kelmem-view in cwd; returns the page's address, the trace's steps and
// the text the page shows as each step's output: a "Parsing" banner and what
// follows it go with the next step, other banners with the step before them.
function make(cwd, name, scripts, extra = []) {
  const html = join(work, name + '.html');
  execFileSync(VIEW, ['--format=html', '-o', html, ...extra, ...scripts], { cwd });
  const jsonl = execFileSync(VIEW, ['--format=json', ...scripts], { cwd, maxBuffer: 1 << 28 }).toString('utf8');
  const events = jsonl.split('\n').filter(Boolean).map((l) => JSON.parse(l));
  const steps = [], shown = [''];
  let lead = '';
  for (const e of events) {
    if (e.type === 'step') { steps.push(e); shown[steps.length] = lead + visible(e.output); lead = ''; }
    if (e.type === 'banner') {
      if (lead || e.output.startsWith('---------------Parsing ') || !steps.length) lead += visible(e.output);
      else shown[steps.length] += visible(e.output);
    }
  }
  if (steps.length) shown[steps.length] += lead;
  return { url: pathToFileURL(html).href, steps, shown, html };
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
    assert.equal(await page.textContent('#src'), visible(steps[n - 1].text));
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
  page.once('dialog', (d) => d.accept());
  await page.click('#teacher summary');
  await page.click('#revealAll');
  await page.keyboard.press('Home');
  await page.keyboard.press('End');
  assert.equal(await page.textContent('#out'), shown[N]);
  await expectOwners(page, steps[N - 1], N);
  assert.equal(await page.textContent('#score'), `Score: ${right} of ${N - 1} right`);
  assert.deepEqual(problems, []);
  await close();
});

// The replays of the examples that teach placement, as the README's table
// counts them: each policy's refused loads, from its own --policy trace and
// on the page, and best fit refusing at step 9 the job that first fit places.
test('the page compares the four policy replays with the script as written', async () => {
  const readme = readFileSync(join(EXAMPLES, '..', 'README.md'), 'utf8');
  const rows = {};
  for (const m of readme.matchAll(/^\| (the script as written|first fit|best fit|worst fit|next fit) \| (\d+) \| (\d+) \|$/gm))
    rows[m[1] === 'the script as written' ? 'script' : m[1].split(' ')[0]] = [+m[2], +m[3]];
  assert.deepEqual(Object.keys(rows).sort(), ['best', 'first', 'next', 'script', 'worst']);
  for (const [i, name] of ['fit-first', 'fit-best'].entries()) {
    const run = make(EXAMPLES, name, [name + '.txt']);
    const want = Object.fromEntries(Object.entries(rows).map(([k, v]) => [k, v[i]]));
    const fromTraces = {};
    for (const policy of ['first', 'best', 'worst', 'next']) {
      const jsonl = execFileSync(VIEW, ['--format=json', '--policy=' + policy, name + '.txt'], { cwd: EXAMPLES }).toString('utf8');
      const events = jsonl.split('\n').filter(Boolean).map((l) => JSON.parse(l));
      assert.equal(events[0].policy, policy);
      fromTraces[policy] = events.filter((e) => e.type === 'step' && e.error === events[0].errors[7]).length;
    }
    fromTraces.script = run.steps.filter((s) => s.error === 'Insufficient main memory to load file').length;
    assert.deepEqual(fromTraces, want, name + ': the traces against the README');
    const { page, problems, close } = await open(run.url, '#step=' + run.steps.length);
    const table = await page.$$eval('#runTable tr[data-policy]', (trs) =>
      Object.fromEntries(trs.map((r) => [r.dataset.policy, Number(r.querySelector('.refused').textContent)])));
    assert.deepEqual(table, want, name + ': the page against the README');
    await page.evaluate(() => { location.hash = '#step=9'; });
    await page.waitForFunction(() => document.getElementById('step').textContent === '9');
    const caps = await page.$$eval('.policies figure', (fs) =>
      Object.fromEntries(fs.map((f) => [f.dataset.policy, f.querySelector('figcaption').textContent])));
    assert.match(caps.first, /^first fit: loaded at 505-544/);
    assert.match(caps.best, /^best fit: refused: no hole of 40/);
    assert.deepEqual(problems, []);
    await close();
  }
});

// A what-if marker, the rover and a map cell are boxes on the screen: each
// marker lies within the box of the cell it marks, at any width.
test('markers lie on their cells, on a phone and on a wide screen', async () => {
  const run = make(EXAMPLES, 'fit-markers', ['fit-first.txt']);
  for (const width of [390, 1920]) {
    const { page, problems, close } = await open(run.url, '', { viewport: { width, height: 900 } });
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= innerWidth), `no sideways scroll at ${width}`);
    let seen = 0;
    for (let n = 1; n <= run.steps.length; n++) {
      if (!run.steps[n - 1].request) continue;
      await page.evaluate((h) => { location.hash = h; }, '#step=' + n);
      await page.waitForFunction((k) => document.getElementById('step').textContent === k, String(n));
      const boxes = await page.$$eval('#map .mk, #map .rv', (els) => els.map((e) => {
        const c = e.parentElement.getBoundingClientRect(), m = e.getBoundingClientRect();
        return [e.className + ' ' + (e.dataset.policy || '') + ' @' + e.parentElement.dataset.addr,
          m.width > 0 && m.left >= c.left - 0.5 && m.right <= c.right + 0.5 && m.top >= c.top - 0.5 && m.bottom <= c.bottom + 0.5];
      }));
      for (const [what, inside] of boxes) assert.ok(inside, `${what} at step ${n}, width ${width}`);
      seen += boxes.length;
    }
    assert.ok(seen >= 20);
    assert.deepEqual(problems, []);
    await close();
  }
});

// data-changed marks exactly the cells whose owner or value the step
// changed; data-blocked the range a load refused for want of room asked for.
test('the map marks what each step changed and what a refused load asked for', async () => {
  const run = make(EXAMPLES, 'changed', ['demo.txt']);
  const { page, problems, close } = await open(run.url);
  const kinds = new Set();
  for (let n = 1; n <= run.steps.length; n++) {
    const s = run.steps[n - 1];
    const before = n > 1 ? ownersOf(run.steps[n - 2]) : new Array(1000).fill('free');
    const after = ownersOf(s);
    const want = new Set(s.cells.map((c) => c[0]));
    for (let a = 0; a < 1000; a++) if (before[a] !== after[a]) want.add(a);
    await page.evaluate((h) => { location.hash = h; }, '#step=' + n);
    await page.waitForFunction((k) => document.getElementById('step').textContent === k, String(n));
    const got = await page.$$eval('#map [data-changed]', (els) => els.map((e) => Number(e.dataset.addr)));
    assert.deepEqual(got, [...want].sort((x, y) => x - y), `changed cells at step ${n}: ${s.text}`);
    if (want.size) kinds.add(s.text.split(/\s+/)[1]);
  }
  assert.deepEqual([...kinds].sort(), ['LoadFile', 'STORE', 'TerminateProcess']);
  await close();
  const fit = make(EXAMPLES, 'blocked', ['fit-best.txt']);
  const b = await open(fit.url, '#step=9');
  assert.deepEqual(await b.page.$$eval('#map [data-blocked]', (els) => els.map((e) => Number(e.dataset.addr))),
    [...Array(40).keys()].map((i) => 30 + i));
  assert.deepEqual(await b.page.$$eval('#map [data-changed]', (els) => els.length), 0);
  assert.deepEqual([...problems, ...b.problems], []);
  await b.close();
});

// Before a step is revealed nothing of its script comment shows, while the
// request (the load file's sizes) does; progress survives a reload.
test('a quiz shows no comment before the reveal and keeps its progress', async () => {
  const run = make(EXAMPLES, 'quiz-fit', ['fit-best.txt'], ['--quiz']);
  const { page, problems, close } = await open(run.url);
  const commentOf = (t) => (/(?:^|\s)(\/\/.*)$/.exec(t) || [])[1];
  for (let n = 1; n <= run.steps.length; n++) {
    const s = run.steps[n - 1];
    const text = await page.innerText('body');
    assert.ok(!text.includes('//'), `no comment before step ${n} is revealed`);
    if (s.request) assert.match(await page.textContent('#request'), new RegExp(`^Request: ${s.request.cells} cells`));
    await page.check('#quiz input[name=err][value="0"]');
    if (await page.$('#quiz input[name=holes]')) {
      await page.fill('#quiz input[name=holes]', '1');
      await page.fill('#quiz input[name=largest]', '1');
    }
    await page.click('#quiz button[type=submit]');
    if (commentOf(s.text)) assert.ok((await page.innerText('#src')).includes(commentOf(s.text)), `comment after step ${n}`);
    if (n === 3) {
      await page.reload();
      await page.waitForSelector('html[data-ready="true"]');
      assert.equal(await page.textContent('#score'), 'Score: 0 of 3 right');
      assert.equal(await shownStep(page), 3);
      await page.focus('#next');
    }
    // After each answer Next leads on, and the next question has the focus.
    if (n < run.steps.length) {
      await page.keyboard.press('Enter');
      assert.equal(await page.evaluate(() => document.activeElement.name), 'err', `focus on question ${n + 1}`);
    }
  }
  assert.deepEqual(problems, []);
  await close();
});

test('axe-core finds no violation at the first, a failing and the last step, nor in a quiz', async () => {
  const axe = readFileSync(join(dirname(fileURLToPath(import.meta.url)), 'node_modules/axe-core/axe.min.js'), 'utf8');
  const fit = make(EXAMPLES, 'axe', ['fit-best.txt']);
  const quiz = make(EXAMPLES, 'axe-quiz', ['fit-best.txt'], ['--quiz']);
  const n = fit.steps.length;
  assert.ok(fit.steps[8].error);
  for (const [url, hash, answer] of [[fit.url, '#step=1'], [fit.url, '#step=9'], [fit.url, '#step=' + n],
    [quiz.url, '', false], [quiz.url, '', true]]) {
    const { page, problems, close } = await open(url, hash);
    if (answer) {
      await page.click('#quiz button[type=submit]');  // "Pick one of the choices first."
      await page.check('#quiz input[name=err][value="0"]');
    }
    await page.focus('#map [data-addr="505"]');
    // Through the debugging protocol, which the page's content policy does not bind.
    await page.evaluate(axe);
    const violations = await page.evaluate(async () =>
      (await window.axe.run(document)).violations.map((v) => v.id + ': ' + v.nodes.map((x) => x.target.join(' ')).join(', ')));
    assert.deepEqual(violations, [], `${url}${hash}${answer ? ' (answering)' : ''}`);
    assert.deepEqual(problems, []);
    await close();
  }
});

// Chromium's own serialiser gives up on a document holding a lone surrogate:
// every step of the hostile run must dump, its bad bytes shown as \xXX.
test('--dump-dom serialises every step of a hostile page', async () => {
  const { html, steps } = hostileRun();
  const bad = steps.findIndex((s) => /[\udc80-\udcff]/.test(s.text)) + 1;
  assert.ok(bad > 0);
  const dump = (n) => execFileAsync(process.env.CHROMIUM || '/usr/bin/chromium',
    ['--headless', '--no-sandbox', '--disable-gpu', '--dump-dom', pathToFileURL(html).href + '#step=' + n],
    { maxBuffer: 1 << 26 }).then((r) => r.stdout);
  for (let n = 1; n <= steps.length; n += 3) {
    const batch = [n, n + 1, n + 2].filter((k) => k <= steps.length);
    const dumps = await Promise.all(batch.map(dump));
    batch.forEach((k, i) => {
      assert.ok(dumps[i].includes(`<span id="step">${k}</span>`), `step ${k} dumped`);
      if (k === bad) assert.ok(dumps[i].includes('"\\xFF\\xFE&lt;'), 'bad bytes shown as \\xXX');
    });
  }
});

// The process colours stay apart under the three colour-vision deficiencies
// and without colour at all (Machado et al. 2009 at full severity; CIE76).
test('process colours stay distinguishable under simulated colour blindness', () => {
  const html = readFileSync(join(dirname(fileURLToPath(import.meta.url)), '../../viewer/page.html'), 'utf8');
  const hex = [...Array(10).keys()].map((p) => new RegExp(`--p${p}: (#[0-9a-f]{6})`).exec(html)[1]);
  const lin = (h) => [1, 3, 5].map((i) => { const v = parseInt(h.slice(i, i + 2), 16) / 255; return v <= 0.04045 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4; });
  const sims = {
    none: [[1, 0, 0], [0, 1, 0], [0, 0, 1]],
    protanopia: [[0.152286, 1.052583, -0.204868], [0.114503, 0.786281, 0.099216], [-0.003882, -0.048116, 1.051998]],
    deuteranopia: [[0.367322, 0.860646, -0.227968], [0.280085, 0.672501, 0.047413], [-0.011820, 0.042940, 0.968881]],
    tritanopia: [[1.255528, -0.076749, -0.178779], [-0.078411, 0.930809, 0.147602], [0.004733, 0.691367, 0.303900]],
    achromatopsia: [[0.2126, 0.7152, 0.0722], [0.2126, 0.7152, 0.0722], [0.2126, 0.7152, 0.0722]]
  };
  const lab = ([r, g, b]) => {
    const f = (t) => t > 0.008856 ? Math.cbrt(t) : 7.787 * t + 16 / 116;
    const x = f((0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047), y = f(0.2126 * r + 0.7152 * g + 0.0722 * b), z = f((0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883);
    return [116 * y - 16, 500 * (x - y), 200 * (y - z)];
  };
  for (const [name, m] of Object.entries(sims)) {
    const labs = hex.map(lin).map((c) => lab(m.map((row) => Math.min(1, Math.max(0, row[0] * c[0] + row[1] * c[1] + row[2] * c[2])))));
    labs.push([100, 0, 0]);  // free cells are white
    for (let i = 0; i < labs.length; i++)
      for (let j = i + 1; j < labs.length; j++)
        assert.ok(Math.hypot(...labs[i].map((v, k) => v - labs[j][k])) >= 6, `${name}: ${i < 10 ? 'P' + i : 'free'} and ${j < 10 ? 'P' + j : 'free'}`);
  }
});
