// Encode and decode through an enforcer: payload forms, round trips,
// signatures, sessions, errors, and use from worker threads.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { Worker } from 'node:worker_threads';

import { freshSession, makeEnforcer, policy, quorvel, tokensIn } from './support.mjs';

const CONVERSATION = {
  messages: [
    { role: 'user', content: 'I am ada@math.com, call 555-0100 or 555-0199. Grüße 😀' },
    { role: 'assistant', content: 'Noted.' },
  ],
  tool_call: { name: 'lookup', arguments: { email: 'ada@math.com', n: 3, ok: true, x: null } },
};
const ORIGINALS = ['ada@math.com', '555-0100', '555-0199'];

test('a round trip restores the payload exactly', () => {
  const enforcer = makeEnforcer();
  const encoded = enforcer.encode(CONVERSATION);
  const text = JSON.stringify(encoded.payload);
  for (const original of ORIGINALS) assert.ok(!text.includes(original), original);
  assert.equal(tokensIn(encoded.payload).length, 4);
  assert.equal(encoded.rules_applied_count, 4);
  assert.deepEqual(encoded.rule_names, ['EMAIL', 'PHONE']);
  assert.equal(encoded.signature_injection_text, '');
  assert.equal(encoded.policy_name, 'bindings-test');

  const decoded = enforcer.decode(encoded.payload);
  assert.deepEqual(decoded.payload, CONVERSATION);
  assert.equal(decoded.rules_applied_count, 4);
  assert.deepEqual(new Set(decoded.rule_names), new Set(['EMAIL', 'PHONE']));
  enforcer.close();
});

test('payload forms: text is JSON, other values are serialized', async (t) => {
  const enforcer = makeEnforcer();
  const cases = [
    ['object', { k: 'mail ada@math.com' }, { k: 'mail ada@math.com' }],
    ['array', ['ada@math.com', 1], ['ada@math.com', 1]],
    ['json text', '{"k":"ada@math.com"}', { k: 'ada@math.com' }],
    ['json buffer', Buffer.from('["ada@math.com"]'), ['ada@math.com']],
    ['json Uint8Array', new TextEncoder().encode('"ada@math.com"'), 'ada@math.com'],
    ['json string literal', JSON.stringify('é ada@math.com'), 'é ada@math.com'],
    ['number', 2.5, 2.5],
    ['null', null, null],
    ['boolean', true, true],
    ['object with toJSON', { toJSON: () => ['555-0100'] }, ['555-0100']],
  ];
  for (const [label, payload, plain] of cases) {
    await t.test(label, () => {
      const encoded = enforcer.encode(payload);
      const hasPii = /@|555-/.test(JSON.stringify(plain));
      assert.equal(tokensIn(encoded.payload).length > 0, hasPii);
      // The envelope's payload may itself be a string, which decode would
      // read as JSON text: hand it back serialized.
      assert.deepEqual(enforcer.decode(JSON.stringify(encoded.payload)).payload, plain);
    });
  }
  enforcer.close();
});

test('rejected payloads', async (t) => {
  const enforcer = makeEnforcer();
  const cases = {
    'empty': '',
    'bare word': 'hello',
    'two values': '{} {}',
    'truncated': '{"a":',
    'invalid utf-8': Buffer.from([0x22, 0xc3, 0x22]),
    'lone surrogate in text': '"\ud800"',
    'lone surrogate in a value': { a: '\udc00' },
  };
  for (const [label, payload] of Object.entries(cases)) {
    await t.test(label, () => {
      assert.throws(() => enforcer.encode(payload), { code: 'ERR_QUORVEL_REJECTED' });
      assert.throws(() => enforcer.decode(payload), { code: 'ERR_QUORVEL_REJECTED' });
    });
  }
  for (const payload of [undefined, () => 1, 10n]) {
    assert.throws(() => enforcer.encode(payload), TypeError);
  }
  enforcer.close();
});

test('signatures and modes', () => {
  const enforcer = makeEnforcer();
  const encoded = enforcer.encode({ t: 'ada@math.com and 555-0100' }, true);
  const signed = [...encoded.payload.t.matchAll(/<([A-Z0-9_]+):([0-9a-f]{8})(-[0-9]{3})>/g)];
  assert.equal(signed.length, 2);
  assert.equal(new Set(signed.map((m) => m[3])).size, 1, 'one signature per call');
  assert.ok(encoded.signature_injection_text.includes(signed[0][3].slice(1)));

  const reply = { t: encoded.payload.t, unsigned: `<${signed[0][1]}:${signed[0][2]}>` };
  for (const [mode, t, count] of [
    [0, encoded.payload.t, 1],
    [1, 'ada@math.com and 555-0100', 3],
    [2, encoded.payload.t, 1],
    [-1, encoded.payload.t, 1],
  ]) {
    const decoded = enforcer.decode(reply, mode);
    assert.deepEqual(decoded.payload, { t, unsigned: 'ada@math.com' }, `mode ${mode}`);
    assert.equal(decoded.rules_applied_count, count, `mode ${mode}`);
  }
  for (const [mode, error] of [[2 ** 31, RangeError], [-(2 ** 31) - 1, RangeError], [1.5, RangeError], ['1', TypeError]]) {
    assert.throws(() => enforcer.decode('{}', mode), error);
  }
  enforcer.close();
});

test('mapping rules mask for good; an inactive policy passes payloads through', () => {
  const rules = [{ source_field: 'card', pii_category: 'CARD', strategy: { type: 'redact' } }];
  const masked = makeEnforcer(policy({ mappingRules: rules }));
  const encoded = masked.encode({ card: '4111 1111', mail: 'ada@math.com' });
  assert.equal(encoded.payload.card, '[REDACTED]');
  assert.deepEqual(masked.decode(encoded.payload).payload, { card: '[REDACTED]', mail: 'ada@math.com' });
  masked.close();

  const config = quorvel.Config.default();
  const passthrough = new quorvel.Enforcer(config, freshSession());
  config.close();
  for (const call of ['encode', 'decode']) {
    const envelope = passthrough[call](CONVERSATION);
    assert.deepEqual(envelope.payload, CONVERSATION);
    assert.equal(envelope.rules_applied_count, 0);
    assert.equal(envelope.policy_name, 'default');
  }
  passthrough.close();
  assert.throws(() => passthrough.encode({}), { code: 'ERR_QUORVEL_CLOSED' });
  assert.throws(() => passthrough.decode({}), { code: 'ERR_QUORVEL_CLOSED' });
});

test('enforcers of one session share tokens', () => {
  const session = freshSession();
  const config = quorvel.Config.fromJson(policy());
  const first = new quorvel.Enforcer(config, session);
  const encoded = first.encode({ t: 'ada@math.com' });
  first.close();
  for (const [sid, expected] of [
    [session, 'ada@math.com'],
    [Buffer.from(session), 'ada@math.com'],
    [session + 'x', encoded.payload.t],
    ['', encoded.payload.t],
  ]) {
    const later = new quorvel.Enforcer(config, sid);
    assert.equal(later.decode(encoded.payload).payload.t, expected, String(sid));
    assert.equal(later.sessionId, sid);
    later.close();
  }
  config.close();
});

// Each worker loads the binding itself; the session and its vault are the
// process's, so tokens cross threads.
const WORKER = `
const { parentPort, workerData } = require('node:worker_threads');
const { Config, Enforcer } = require(workerData.binding);
const config = Config.fromJson(workerData.policy);
const enforcer = new Enforcer(config, workerData.session);
config.close();
const mine = [];
let ok = 0;
for (let i = 0; i < workerData.rounds; i++) {
  const payload = { who: 'user' + workerData.id + 'x' + i + '@math.com' };
  const encoded = enforcer.encode(payload, i % 2 === 1);
  if (JSON.stringify(enforcer.decode(encoded.payload, 1).payload) === JSON.stringify(payload)) ok++;
  mine.push([encoded.payload, payload]);
}
enforcer.close();
parentPort.postMessage({ ok, mine });
`;

test('worker threads share a session and run round trips at once', async () => {
  const session = freshSession();
  const binding = fileURLToPath(new URL('../index.js', import.meta.url));
  const rounds = 150;
  const results = await Promise.all(
    [0, 1, 2, 3].map(
      (id) =>
        new Promise((resolve, reject) => {
          const worker = new Worker(WORKER, { eval: true, workerData: { binding, policy: policy(), session, id, rounds } });
          worker.once('message', resolve);
          worker.once('error', reject);
        }),
    ),
  );
  assert.deepEqual(results.map((r) => r.ok), [rounds, rounds, rounds, rounds]);
  // The main thread restores what the workers' enforcers tokenized.
  const here = makeEnforcer(policy(), session);
  for (const { mine } of results) {
    for (const [encoded, payload] of mine) assert.deepEqual(here.decode(encoded, 1).payload, payload);
  }
  here.close();
});
