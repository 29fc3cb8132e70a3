// Keeps the page's Content-Security-Policy in step with its one inline
// script: prints the script's hash, or with --write puts it into the page.
// The policy lets only that script run, so anything injected stays inert.
import { createHash } from 'node:crypto';
import { readFileSync, writeFileSync } from 'node:fs';
import { fileURLToPath } from 'node:url';

const page = fileURLToPath(new URL('../../viewer/page.html', import.meta.url));
const html = readFileSync(page, 'utf8');
const m = /<script>([\s\S]*?)<\/script>/.exec(html);
if (!m) throw new Error('no inline script in ' + page);
const hash = createHash('sha256').update(m[1], 'utf8').digest('base64');
const fixed = html.replace(/script-src 'sha256-[^']*'/, `script-src 'sha256-${hash}'`);
if (process.argv.includes('--write')) writeFileSync(page, fixed);
else if (fixed !== html) { console.error(`page.html: script-src should be 'sha256-${hash}' (run node csp-hash.mjs --write)`); process.exit(1); }
console.log(hash);
