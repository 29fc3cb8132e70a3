// Fails when the playground page is larger than the given number of bytes;
// skipped (77) when it is not built.
// node size.mjs PAGE MAX_BYTES
import { existsSync, statSync } from 'node:fs';

const [page, max] = process.argv.slice(2);
if (!existsSync(page)) {
  console.log(`skipped: ${page} is not built (make playground)`);
  process.exit(77);
}
const size = statSync(page).size;
console.log(`${page}: ${size} bytes, at most ${max}`);
process.exitCode = size <= Number(max) ? 0 : 1;
