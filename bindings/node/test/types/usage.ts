// Compiled by the tests with tsc: the declarations accept what the binding
// accepts and refuse what it refuses.
import { Config, Enforcer, StreamDecoder, type DecodeEnvelope, type EncodeEnvelope } from '../../index.js';

const config: Config = Config.fromJson('{}');
const fromBytes: Config = Config.fromJson(new Uint8Array(2));
const active: boolean = Config.default().active;
const name: string = config.policyName + config.policyVersion;
const enforcer = new Enforcer(config, 'session');
new Enforcer(fromBytes);
const encoded: EncodeEnvelope = enforcer.encode({ any: ['json', 1, null] }, true);
const rule: string = encoded.signature_injection_text;
const decoded: DecodeEnvelope = enforcer.decode(encoded.payload, 1);
const count: number = decoded.rules_applied_count + decoded.rule_names.length;
const decoder = new StreamDecoder(enforcer, 1);
const shown: string = decoder.feed('chunk') + decoder.finish();
enforcer[Symbol.dispose]();
config.close();
const closed: boolean = config.closed && enforcer.closed;

// @ts-expect-error the constructor is private: use fromJson or default
new Config();
// @ts-expect-error a session id is text
new Enforcer(config, 42);
// @ts-expect-error the envelope keeps the library's field names
encoded.rulesAppliedCount;
// @ts-expect-error a decode envelope has no rule text
decoded.signature_injection_text;
// @ts-expect-error chunks are strings
decoder.feed(new Uint8Array(1));
// @ts-expect-error policy names are read-only
config.policyName = 'x';

export { active, name, rule, count, shown, closed };
