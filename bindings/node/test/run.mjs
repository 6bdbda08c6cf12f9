// Runs every test file with node --test and fails when a test fails or
// when none ran.
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

const dir = fileURLToPath(new URL('.', import.meta.url));
const files = readdirSync(dir).filter((f) => f.endsWith('.test.mjs')).map((f) => join(dir, f));
const scratch = mkdtempSync(join(tmpdir(), 'quorvel-node-test-'));
const tap = join(scratch, 'report.tap');
const done = spawnSync(
  process.execPath,
  ['--test', '--test-reporter=dot', '--test-reporter-destination=stdout',
   '--test-reporter=tap', `--test-reporter-destination=${tap}`, ...files],
  { stdio: 'inherit' },
);
const report = readFileSync(tap, 'utf8');
rmSync(scratch, { recursive: true, force: true });
const count = (key) => Number((report.match(new RegExp(`^# ${key} (\\d+)$`, 'm')) ?? [])[1] ?? 0);
const [passed, failed] = [count('pass'), count('fail') + count('cancelled')];
console.log(`node: ${passed} passed, ${failed} failed`);
process.exit(done.status === 0 && passed > 0 && failed === 0 ? 0 : 1);
