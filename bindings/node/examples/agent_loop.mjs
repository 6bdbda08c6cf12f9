// An agent loop: the model only ever sees tokens, the host and its tools see
// the real values.
//
// The model is a stand-in that echoes and rearranges the tokens it was given,
// streams its reply in small chunks and asks for a tool call whose arguments
// carry tokens. The host restores the streamed reply as it arrives and the
// tool arguments before it runs the tool.
//
//   QUORVEL_LIB=build/src/ffi/libquorvel_ffi.so node bindings/node/examples/agent_loop.mjs
import { createRequire } from 'node:module';
import { isDeepStrictEqual } from 'node:util';

const require = createRequire(import.meta.url);
const { Config, Enforcer, StreamDecoder } = require('../index.js');

const POLICY = {
  schema_version: '1.0',
  policy_name: 'support-desk',
  policy_version: '1.0.0',
  quorvel_policy: {
    masking: true,
    mapping: true,
    masking_rules: [],
    mapping_rules: [],
    pii_config: {
      backend: {
        type: 'regex',
        patterns: [
          { name: 'EMAIL', pattern: '[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}' },
          { name: 'PHONE', pattern: '\\(?\\b[0-9]{3}\\)?[-. ][0-9]{3}[-. ][0-9]{4}\\b' },
        ],
      },
    },
  },
};

const USER_MESSAGE = "Hi, I'm Ada. Please confirm my order by mail to ada.lovelace@example.com, or call (555) 010-4477.";
const TOKEN = /<[A-Z0-9_]+:[0-9a-fA-F]{8}(?:-[0-9]{3})?>/g;

// Echoes the tokens it saw in another order, in chunks of seven characters,
// and asks to send a mail.
function fakeModel(request) {
  const [email, phone] = JSON.stringify(request.messages).match(TOKEN);
  const reply = `Sure! I will call ${phone} first; if nobody answers, a confirmation goes to ${email}. (${email})`;
  const chunks = [];
  for (let i = 0; i < reply.length; i += 7) chunks.push(reply.slice(i, i + 7));
  const toolCall = { name: 'send_mail', arguments: { to: email, body: `Your order is confirmed. Call ${phone}.` } };
  return { chunks, toolCall };
}

const tools = {
  send_mail: ({ to, body }) => `queued mail to ${to} (${body.length} characters)`,
};

const config = Config.fromJson(JSON.stringify(POLICY));
const enforcer = new Enforcer(config, 'agent-loop-example');
config.close();

const outgoing = enforcer.encode({ messages: [{ role: 'user', content: USER_MESSAGE }] }, true);
const request = {
  system: 'You are a support agent.\n' + outgoing.signature_injection_text,
  messages: outgoing.payload.messages,
};
console.log('model sees:  ', request.messages[0].content);

const { chunks, toolCall } = fakeModel(request);
// The signed tokens are restored in mode 1.
const decoder = new StreamDecoder(enforcer, 1);
let reply = '';
process.stdout.write('user sees:   ');
for (const chunk of chunks) {
  const piece = decoder.feed(chunk);
  reply += piece;
  process.stdout.write(piece);
}
const rest = decoder.finish();
reply += rest;
console.log(rest);

console.log('tool call:   ', JSON.stringify(toolCall.arguments));
const args = enforcer.decode(toolCall.arguments, 1).payload;
const result = tools[toolCall.name](args);
console.log(`tool runs:    ${toolCall.name}(to=${JSON.stringify(args.to)}, body=${JSON.stringify(args.body)})`);

// The tool's result goes back to the model tokenized like any payload.
const back = enforcer.encode({ role: 'tool', content: result });
console.log('model sees:  ', back.payload.content);
enforcer.close();

const problems = [];
const expectedReply =
  'Sure! I will call (555) 010-4477 first; if nobody answers, a confirmation goes to ' +
  'ada.lovelace@example.com. (ada.lovelace@example.com)';
if (reply !== expectedReply) problems.push(`reply not restored: ${JSON.stringify(reply)}`);
if (!isDeepStrictEqual(args, { to: 'ada.lovelace@example.com', body: 'Your order is confirmed. Call (555) 010-4477.' })) {
  problems.push(`tool arguments not restored: ${JSON.stringify(args)}`);
}
if (JSON.stringify(back.payload).includes('ada.lovelace@example.com')) {
  problems.push('the tool result reached the model unmasked');
}
for (const problem of problems) console.error('FAILED:', problem);
process.exitCode = problems.length ? 1 : 0;
