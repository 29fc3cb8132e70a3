// The playground's engine under node, against kelmem's golden outputs: every
// case folder of tests/cli and the examples with a recorded output run
// through Module.kelmemRun, one engine for all of them as in the page, and
// its standard output and exit status compared byte for byte. With KELMEM
// and KELMEM_VIEW set (the native programs), every file of examples/ is also
// run alone as a script by both, and every case's page is compared with the
// one kelmem-view writes natively.
//
// node exact.mjs ENGINE.js CLI_DIR EXAMPLES_DIR   (ENGINE.wasm beside ENGINE.js)
import { createRequire } from 'node:module';
import { execFileSync } from 'node:child_process';
import { cpSync, mkdtempSync, readdirSync, readFileSync, rmSync, statSync, existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';

const [enginePath, cliDir, examplesDir] = process.argv.slice(2);
if (!examplesDir) throw new Error('usage: node exact.mjs ENGINE.js CLI_DIR EXAMPLES_DIR');
const KELMEM = process.env.KELMEM;
const VIEW = process.env.KELMEM_VIEW;

if (!existsSync(enginePath)) {
  console.log(`skipped: ${enginePath} is not built (make playground)`);
  process.exit(77);
}
// The module's bytes are handed in, as the page's worker does.
const engine = await createRequire(import.meta.url)(resolve(enginePath))({
  wasmBinary: readFileSync(enginePath.replace(/\.js$/, '.wasm')),
});

// Every file and folder under dir, as kelmemRun takes them.
function filesOf(dir, prefix = '') {
  const out = [];
  for (const e of readdirSync(dir, { withFileTypes: true })) {
    const p = join(dir, e.name);
    if (e.isDirectory()) {
      out.push([prefix + e.name + '/', null]);
      out.push(...filesOf(p, prefix + e.name + '/'));
    } else {
      out.push([prefix + e.name, new Uint8Array(readFileSync(p))]);
    }
  }
  return out;
}

// The command line a case's args file gives: one argument a line, empty
// lines left out (as run_case.cmake reads it).
function argsOf(dir) {
  const f = join(dir, 'args');
  if (!existsSync(f)) return [];
  return readFileSync(f, 'utf8').split('\n').filter((l) => l !== '');
}

// Runs a native program in a scratch copy of dir; its standard output and
// exit status.
function native(program, dir, args) {
  const work = mkdtempSync(join(tmpdir(), 'kelmem-exact-'));
  try {
    cpSync(dir, work, { recursive: true });
    try {
      return { output: execFileSync(program, args, { cwd: work, maxBuffer: 1 << 28 }), status: 0 };
    } catch (err) {
      if (typeof err.status !== 'number') throw err;
      return { output: err.stdout, status: err.status };
    }
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
}

const failures = [];
let checked = 0;
function expectBytes(what, actual, expected) {
  checked++;
  if (Buffer.compare(Buffer.from(actual), Buffer.from(expected)) !== 0) {
    let at = 0;
    while (at < actual.length && actual[at] === expected[at]) at++;
    failures.push(`${what}: ${actual.length} bytes, expected ${expected.length}; first difference at byte ${at}`);
  }
}
function expectStatus(what, actual, expected) {
  checked++;
  if (actual !== expected) failures.push(`${what}: exit status ${actual}, expected ${expected}`);
}

function check(name, dir, args, expectedOut, expectedStatus) {
  const files = filesOf(dir);
  const r = engine.kelmemRun({ files, args, quiz: false });
  expectBytes(`${name}: output`, r.output, expectedOut);
  expectStatus(name, r.status, expectedStatus);
  if (VIEW && args.length > 0) {
    const page = native(VIEW, dir, ['--format=html', ...args]);
    if (page.status === 0) expectBytes(`${name}: page`, r.page ?? new Uint8Array(), page.output);
    else failures.push(`${name}: kelmem-view failed natively (status ${page.status})`);
  }
}

for (const entry of readdirSync(cliDir).sort()) {
  const dir = join(cliDir, entry);
  if (!statSync(dir).isDirectory() || !existsSync(join(dir, 'expected.out'))) continue;
  check(`cli/${entry}`, dir, argsOf(dir), readFileSync(join(dir, 'expected.out')),
    Number(readFileSync(join(dir, 'expected.status'), 'utf8').trim()));
}
const exampleFiles = readdirSync(examplesDir).sort();
for (const out of exampleFiles.filter((f) => f.endsWith('.out'))) {
  const script = out.replace(/\.out$/, '.txt');
  check(`examples/${script}`, examplesDir, [script], readFileSync(join(examplesDir, out)), 0);
}
if (KELMEM) {
  for (const f of exampleFiles.filter((f) => f.endsWith('.txt'))) {
    const want = native(KELMEM, examplesDir, [f]);
    check(`examples/${f} (against kelmem)`, examplesDir, [f], want.output, want.status);
  }
}

for (const f of failures) console.log('FAIL ' + f);
console.log(`exact: ${checked - failures.length} passed, ${failures.length} failed`);
if (checked === 0) throw new Error('no case found');
process.exitCode = failures.length ? 1 : 0;
