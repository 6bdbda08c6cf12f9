// Policies, sessions and token helpers shared by the binding's tests.
import { randomUUID } from 'node:crypto';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
export const quorvel = require('../index.js');

export const PATTERNS = [
  { name: 'EMAIL', pattern: '[a-z.]+@[a-z]+\\.com' },
  { name: 'PHONE', pattern: '\\b555-[0-9]{4}\\b' },
];

export const TOKEN = /<([A-Z0-9_]+):([0-9a-f]{8})(-[0-9]{3})?>/g;

/** An active policy document with the given patterns and mapping rules. */
export function policy({ patterns = PATTERNS, mappingRules = [], mapping = true } = {}) {
  return JSON.stringify({
    schema_version: '1.0',
    policy_name: 'bindings-test',
    policy_version: '3.1.4',
    quorvel_policy: {
      masking: true,
      mapping,
      masking_rules: [],
      mapping_rules: mappingRules,
      pii_config: { backend: { type: 'regex', patterns } },
    },
  });
}

/** A session id no other test uses, so each test starts with an empty vault. */
export function freshSession() {
  return `node-${randomUUID()}`;
}

export function makeEnforcer(document = policy(), session = freshSession()) {
  const config = quorvel.Config.fromJson(document);
  try {
    return new quorvel.Enforcer(config, session);
  } finally {
    config.close();
  }
}

/** Every token text in a payload, in the order of its JSON text. */
export function tokensIn(value) {
  return [...JSON.stringify(value).matchAll(TOKEN)].map((m) => m[0]);
}
