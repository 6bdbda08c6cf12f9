// Microseconds per encode of the 1 KiB payload through the Node binding.
//
//   node bindings/node/bench/encode.mjs [--iterations N] [--rounds R]
//
// Compare with bindings/bench/encode_bench.c for the cost of the C call alone.
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { parseArgs } from 'node:util';

const require = createRequire(import.meta.url);
const { Config, Enforcer } = require('../index.js');

const repo = new URL('../../../', import.meta.url);
const { values } = parseArgs({
  options: {
    iterations: { type: 'string', default: '500' },
    rounds: { type: 'string', default: '40' },
    policy: { type: 'string', default: new URL('examples/support_policy.json', repo).pathname },
    payload: { type: 'string', default: new URL('bindings/bench/payload_1k.json', repo).pathname },
  },
});
const iterations = Number(values.iterations);
const rounds = Number(values.rounds);

// Sent as JSON text, as the C program sends it, so the figure is the
// binding's own cost and not that of JSON.stringify.
const payload = readFileSync(values.payload, 'utf8').replace(/[\r\n]+$/, '');
const size = Buffer.byteLength(payload);
const config = Config.fromJson(readFileSync(values.policy));
for (const [label, sent] of [['node', payload], ['node, payload as an object', JSON.parse(payload)]]) {
  let bestCpu = Infinity;
  let bestWall = Infinity;
  for (let r = 0; r < rounds; r++) {
    // A session per round, as in the C program.
    const enforcer = new Enforcer(config, `bench-${label}-${r}`);
    const cpu = process.cpuUsage();
    const wall = process.hrtime.bigint();
    for (let i = 0; i < iterations; i++) enforcer.encode(sent);
    const used = process.cpuUsage(cpu);
    bestCpu = Math.min(bestCpu, (used.user + used.system) / iterations);
    bestWall = Math.min(bestWall, Number(process.hrtime.bigint() - wall) / 1e3 / iterations);
    enforcer.close();
  }
  console.log(
    `${label}: ${bestCpu.toFixed(2)} us per encode of a ${size}-byte payload ` +
      `(CPU time, best of ${rounds} rounds of ${iterations}; wall ${bestWall.toFixed(2)} us)`,
  );
}
config.close();
