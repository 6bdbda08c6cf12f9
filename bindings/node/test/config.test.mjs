// Config handles: reading policies, their properties, and release.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { test } from 'node:test';
import v8 from 'node:v8';
import vm from 'node:vm';

import { policy, quorvel } from './support.mjs';

const require = createRequire(import.meta.url);
const { Handle } = require('../lib/api.js');
const EXAMPLE_POLICY = new URL('../../../examples/support_policy.json', import.meta.url);

// Closes the config after fn, as a `using` declaration would.
function using(config, fn) {
  try {
    return fn(config);
  } finally {
    config[Symbol.dispose]();
  }
}

test('default policy', () => {
  using(quorvel.Config.default(), (config) => {
    assert.equal(config.active, false);
    assert.equal(config.policyName, 'default');
    assert.equal(config.policyVersion, '0.0.0');
  });
});

test('a document as a string, a Buffer and a Uint8Array view', () => {
  const bytes = readFileSync(EXAMPLE_POLICY);
  const padded = new Uint8Array(bytes.length + 8);
  padded.set(bytes, 4);
  for (const form of [bytes.toString('utf8'), bytes, padded.subarray(4, 4 + bytes.length)]) {
    const config = quorvel.Config.fromJson(form);
    using(config, () => {
      assert.equal(config.active, true);
      assert.equal(config.policyName, 'customer-support');
      assert.equal(config.policyVersion, '1.2.0');
    });
    assert.equal(config.closed, true);
  }
});

test('non-ASCII names come back intact', () => {
  const doc = JSON.parse(policy());
  doc.policy_name = 'Kundendienst Zürich ☎';
  using(quorvel.Config.fromJson(JSON.stringify(doc)), (config) => {
    assert.equal(config.policyName, 'Kundendienst Zürich ☎');
  });
});

test('rejected documents throw ERR_QUORVEL_REJECTED', async (t) => {
  const edited = (changes) => JSON.stringify({ ...JSON.parse(policy()), ...changes });
  const cases = {
    'empty': '',
    'not json': 'policy please',
    'two values': policy() + ' {}',
    'invalid utf-8': Buffer.from([0x7b, 0x22, 0xff, 0x22, 0x7d]),
    'lone surrogate': `{"policy_name":"\ud800"}`,
    'schema 2.0': edited({ schema_version: '2.0' }),
    'empty name': edited({ policy_name: '' }),
    'empty version': edited({ policy_version: '' }),
    'pattern that does not compile': policy({ patterns: [{ name: 'X', pattern: '(unclosed' }] }),
  };
  for (const [label, text] of Object.entries(cases)) {
    await t.test(label, () => {
      assert.throws(() => quorvel.Config.fromJson(text), { code: 'ERR_QUORVEL_REJECTED' });
    });
  }
  for (const value of [null, 42, { policy_name: 'x' }]) {
    assert.throws(() => quorvel.Config.fromJson(value), TypeError);
  }
});

test('a closed config refuses use and closes once', () => {
  const config = quorvel.Config.fromJson(policy());
  config.close();
  config.close();
  assert.equal(config.closed, true);
  for (const use of [() => config.active, () => config.policyName, () => new quorvel.Enforcer(config, 's')]) {
    assert.throws(use, { code: 'ERR_QUORVEL_CLOSED' });
  }
});

test('an enforcer outlives its closed config', () => {
  const config = quorvel.Config.fromJson(policy());
  const enforcer = using(config, () => new quorvel.Enforcer(config, 'outlives'));
  assert.equal(config.closed, true);
  using(enforcer, () => assert.equal(enforcer.encode({ a: 1 }).policy_name, 'bindings-test'));
  assert.equal(enforcer.closed, true);
});

test('handles drop once: on close, or when their owner is collected', async () => {
  v8.setFlagsFromString('--expose-gc');
  const gc = vm.runInNewContext('gc');
  const dropped = [];
  const closedHandle = new Handle({}, 'closed', (p) => dropped.push(p), 'x');
  closedHandle.close();
  closedHandle.close();
  assert.throws(() => closedHandle.get(), { code: 'ERR_QUORVEL_CLOSED' });
  (() => {
    new Handle({}, 'collected', (p) => dropped.push(p), 'x');
  })();
  for (let i = 0; i < 50 && dropped.length < 2; i++) {
    gc();
    await new Promise((resolve) => setImmediate(resolve));
  }
  assert.deepEqual(dropped, ['closed', 'collected']);
});
