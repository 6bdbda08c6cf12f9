// The example, the benchmark script and the type declarations keep working.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

const here = (path) => fileURLToPath(new URL(path, import.meta.url));

function node(...args) {
  return spawnSync(process.execPath, args, { encoding: 'utf8', timeout: 120_000 });
}

test('the agent loop restores the reply and the tool arguments', () => {
  const done = node(here('../examples/agent_loop.mjs'));
  assert.equal(done.status, 0, done.stderr);
  assert.match(done.stdout, /send_mail\(to="ada\.lovelace@example\.com"/);
  assert.ok(!done.stdout.split('\n')[0].includes('ada.lovelace@example.com'), done.stdout);
});

test('the benchmark script runs', () => {
  const done = node(here('../bench/encode.mjs'), '--iterations', '20', '--rounds', '1');
  assert.equal(done.status, 0, done.stderr);
  assert.match(done.stdout, /^node: [0-9.]+ us per encode of a [0-9]+-byte payload/m);
});

test('the type declarations compile against their use', () => {
  const done = node(here('../node_modules/typescript/bin/tsc'), '-p', here('types/tsconfig.json'));
  assert.equal(done.status, 0, done.stdout + done.stderr);
});
