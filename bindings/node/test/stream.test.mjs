// Streaming decode: what is held back, and that chunking never changes the
// restored text.
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import { after, describe, test } from 'node:test';

import { TOKEN, makeEnforcer, quorvel } from './support.mjs';

const require = createRequire(import.meta.url);
const { heldTailStart } = require('../lib/stream.js');

function stream(decoder, chunks) {
  return chunks.map((c) => decoder.feed(c)).join('') + decoder.finish();
}

test('the shortest tail that could become a token', () => {
  // [text, signed, start of the held tail]
  const cases = [
    ['', false, 0],
    ['plain text', false, 10],
    ['a <', false, 2],
    ['a <P', false, 2],
    ['a <PERSON_2', false, 2],
    ['a <PERSON:', false, 2],
    ['a <PERSON:0a1B2c3', false, 2],
    ['a <PERSON:0a1B2c3d', false, 2],
    ['a <PERSON:0a1B2c3d>', false, 19],
    ['a <PERSON:0a1B2c3d-', false, 19],
    ['a <PERSON:0a1B2c3d-', true, 2],
    ['a <PERSON:0a1B2c3d-41', true, 2],
    ['a <PERSON:0a1B2c3d-417', true, 2],
    ['a <PERSON:0a1B2c3d-417>', true, 23],
    ['a <PERSON:0a1B2c3d-4170', true, 23],
    ['a <PERSON:0a1B2c3d-4x', true, 21],
    ['a <PERSON:0a1B2c3d0', false, 19],
    ['a <PERSON:0a1g', false, 14],
    ['a <person', false, 9],
    ['a <PER SON', false, 10],
    ['a <:', false, 4],
    ['a <PERSON::', false, 11],
    ['<<', false, 1],
    ['<A<B:1', false, 2],
    ['<A:1<', true, 4],
    ['a <PÉRSON', false, 9],
    ['a <PERSON:٠', false, 11], // an Arabic-Indic digit is no hex digit
  ];
  for (const [text, signed, start] of cases) {
    assert.equal(heldTailStart(text, signed), start, `${JSON.stringify(text)} signed=${signed}`);
  }
});

describe('a stream decoder', () => {
  const enforcer = makeEnforcer();
  after(() => enforcer.close());

  test('releases all but a possible token, and a possible bare value', () => {
    // No token here is known to the session, so the text comes back as sent;
    // only where it is cut differs.
    const cases = [
      [['Hi <PER', 'SON:0a1b2c3d> bye'], 0, ['Hi ', '<PERSON:0a1b2c3d> bye']],
      [['Hi <per', 'son'], 0, ['Hi <per', 'son']],
      [['a <B:0123', '4567', '>'], 0, ['a ', '', '<B:01234567>']],
      [['a <B:01234567-', '123>'], 0, ['a <B:01234567-', '123>']],
      [['a <B:01234567-', '123>'], 1, ['a ', '<B:01234567-123>']],
      [['a <B:01234567-12', '34'], 1, ['a ', '<B:01234567-1234']],
      [['<B:012345678'], 0, ['<B:012345678']],
      [['0a1b', '2c3d'], 0, ['', '']],
      [['0a1b2c3d', '9'], 0, ['', '0a1b2c3d9']],
      [['0a1b2c3d', '<'], 0, ['', '0a1b2c3d']],
      [['x', '0a1b2c3d'], 0, ['x', '0a1b2c3d']],
      [['0a1b2c3', 'g'], 0, ['', '0a1b2c3g']],
      [['<B:', ':'], 0, ['', '<B::']],
      [['<<'], 0, ['<']],
      [['a<B:01234567>b<', ''], 0, ['a<B:01234567>b', '']],
      [['', '', 'x'], 0, ['', '', 'x']],
      // A chunk that ends inside a surrogate pair keeps its first half.
      [['ok \ud83d', '\ude00 <B'], 0, ['ok ', '\ud83d\ude00 ']],
    ];
    for (const [chunks, mode, released] of cases) {
      const decoder = new quorvel.StreamDecoder(enforcer, mode);
      const what = `${JSON.stringify(chunks)} mode ${mode}`;
      assert.deepEqual(chunks.map((c) => decoder.feed(c)), released, what);
      assert.equal(released.join('') + decoder.finish(), chunks.join(''), what);
    }
  });

  test('refuses feed after finish; finish is final', () => {
    const decoder = new quorvel.StreamDecoder(enforcer);
    assert.equal(decoder.feed('ab <X'), 'ab ');
    assert.equal(decoder.finish(), '<X');
    assert.equal(decoder.finish(), '');
    assert.throws(() => decoder.feed('more'), /after finish/);
    assert.throws(() => new quorvel.StreamDecoder(enforcer).feed(Buffer.from('x')), TypeError);
  });
});

// A small seeded generator, so that a failing chunking can be replayed.
function mulberry32(seed) {
  return () => {
    seed = (seed + 0x6d2b79f5) | 0;
    let t = Math.imul(seed ^ (seed >>> 15), 1 | seed);
    t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

describe('any chunking of a reply restores to what decoding it whole gives', () => {
  const enforcer = makeEnforcer();
  after(() => enforcer.close());
  const plain = enforcer.encode({ a: 'ada@math.com', b: '555-0100' }).payload;
  const s1 = enforcer.encode({ a: 'bob@math.com' }, true).payload.a;
  const [u1, u2] = [plain.a, plain.b];
  const m = new RegExp(`^${TOKEN.source}$`).exec(s1);
  assert.ok(m && m[3], s1);
  const s1u = `<${m[1]}:${m[2]}>`;
  const v = u1.slice(-9, -1);
  const unknown = '<EMAIL:ffffffff>';
  const all = [0, 1, 2];
  const signedOnly = [1];
  const never = [];
  // [label, reply, modes in which decoding it whole changes it]
  const replies = [
    ['unsigned tokens in prose', `Hello ${u1}, your phone ${u2} is on file.`, all],
    ['signed token and its unsigned form', `${s1} then ${s1u} and ${s1} again`, all],
    ['signed token alone', `mail ${s1}!`, signedOnly],
    ['adjacent tokens', `${u1}${u1}${u2}${s1}`, all],
    ['tokens in brackets', `<${u1}> <<${u2}>>`, all],
    ['unknown tokens', `${unknown} and ${unknown.slice(0, -1)}-123>`, never],
    ['lower-case type', `<email:${v}>`, never],
    ['upper-case value', `<EMAIL:${v.toUpperCase()}>`, never],
    ['seven hex digits', `<EMAIL:${v.slice(0, 7)}>`, never],
    ['nine hex digits', `<EMAIL:${v}0>`, never],
    ['two-digit signature', `${s1.slice(0, -2)}>`, never],
    ['four-digit signature', `${s1.slice(0, -1)}4>`, never],
    ['double colon', `<EMAIL::${v}>`, never],
    ['token in an unfinished one', `<EMAIL:${u1}`, all],
    ['dangling starts', 'a < b <A <B:1 <C:0a1b2c3d- end <', never],
    ['bare value', v, all],
    ['bare value upper-case', v.toUpperCase(), never],
    ['bare value then space', v + ' ', never],
    ['space then bare value', ' ' + v, never],
    ['bare value then <', v + '<', never],
    ['bare value then a token', v + u1, all],
    ['nine hex digits alone', v + '0', never],
    ['seven hex digits alone', v.slice(0, 7), never],
    ['unknown bare value', 'ffffffff', never],
    ['empty reply', '', never],
    ['escapes and non-ASCII', `Grüße 😀 "${u1}"\\n\t\u0000${s1}\u2028😀`, all],
    ['everything', `${v} ${u1}<${s1}${unknown}<email:${v}>${s1.slice(0, -1)}4><EMAIL:${v}0>${u2} ok <EMAIL:${v.slice(0, 5)}`, all],
  ];
  const whole = (reply, mode) => enforcer.decode(JSON.stringify(reply), mode).payload;

  test('the replies exercise restoration', () => {
    for (const [label, reply, restoring] of replies) {
      for (const mode of all) {
        assert.equal(whole(reply, mode) !== reply, restoring.includes(mode), `${label} mode ${mode}`);
      }
    }
  });

  test('every split in two', () => {
    for (const [label, reply] of replies) {
      for (const mode of all) {
        const expected = whole(reply, mode);
        for (let i = 0; i <= reply.length; i++) {
          const got = stream(new quorvel.StreamDecoder(enforcer, mode), [reply.slice(0, i), reply.slice(i)]);
          assert.equal(got, expected, `${label} mode ${mode} split ${i}`);
        }
      }
    }
  });

  test('random chunkings', () => {
    const random = mulberry32(20240611);
    for (const [label, reply] of replies) {
      for (const mode of all) {
        const expected = whole(reply, mode);
        for (let k = 0; k < 15; k++) {
          const cuts = Array.from({ length: 1 + Math.floor(random() * 8) }, () =>
            Math.floor(random() * (reply.length + 1)),
          ).sort((a, b) => a - b);
          const bounds = [0, ...cuts, reply.length];
          const chunks = cuts.concat(reply.length).map((end, i) => reply.slice(bounds[i], end));
          const got = stream(new quorvel.StreamDecoder(enforcer, mode), chunks);
          assert.equal(got, expected, `${label} mode ${mode} chunks ${JSON.stringify(chunks)}`);
        }
      }
    }
  });

  test('one character at a time releases before the end', () => {
    const [, reply] = replies[0];
    const decoder = new quorvel.StreamDecoder(enforcer);
    const released = [...reply].map((ch) => decoder.feed(ch)).join('');
    assert.equal(released, whole(reply, 0));
    assert.equal(decoder.finish(), '');
  });
});
