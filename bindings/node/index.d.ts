// Types of the Node binding of libquorvel_ffi.

/** A JSON text, as a string or as UTF-8 bytes. */
export type JsonText = string | Uint8Array;

/** What Enforcer.encode returns. */
export interface EncodeEnvelope {
  /** The payload with masked fields and tokens. */
  payload: unknown;
  /** With a signature, a rule for the model's system prompt; else "". */
  signature_injection_text: string;
  rules_applied_count: number;
  rule_names: string[];
  policy_name: string;
}

/** What Enforcer.decode returns. */
export interface DecodeEnvelope {
  /** The payload with the tokens the session knows restored. */
  payload: unknown;
  rules_applied_count: number;
  rule_names: string[];
  policy_name: string;
}

/**
 * Thrown for a rejected policy or payload (code "ERR_QUORVEL_REJECTED") and
 * for use of a closed handle (code "ERR_QUORVEL_CLOSED").
 */
export interface QuorvelError extends Error {
  code: 'ERR_QUORVEL_REJECTED' | 'ERR_QUORVEL_CLOSED';
}

/**
 * A policy, shared by the enforcers created from it. Enforcers keep their
 * own reference, so a config may be closed as soon as they exist. Released
 * by close(), by `using`, or when garbage-collected.
 */
export class Config {
  private constructor();
  /** Reads a policy document; throws a QuorvelError when it is refused. */
  static fromJson(text: JsonText): Config;
  /** The default policy: inactive, named "default", version "0.0.0". */
  static default(): Config;
  /** The policy's master switch. */
  readonly active: boolean;
  readonly policyName: string;
  readonly policyVersion: string;
  readonly closed: boolean;
  close(): void;
  [Symbol.dispose](): void;
}

/**
 * The per-conversation object. Enforcers created for the same session id
 * share one token vault for the life of the process.
 */
export class Enforcer {
  constructor(config: Config, sessionId?: string | Uint8Array);
  readonly sessionId: string | Uint8Array;
  /**
   * Masks and tokenizes a payload on its way to the model. A string or
   * Uint8Array is taken as JSON text; any other value is serialized with
   * JSON.stringify first. With `withSignature` every token carries a
   * three-digit signature and the envelope holds a system-prompt rule.
   * The envelope is read with JSON.parse, so integers beyond 2^53 that the
   * library keeps exactly come back rounded, as in any JSON.parse.
   */
  encode(payload: unknown, withSignature?: boolean): EncodeEnvelope;
  /**
   * Restores the tokens this session knows. The payload is taken as in
   * encode. Mode 1 restores signed tokens as well; any other 32-bit integer
   * restores unsigned tokens only.
   */
  decode(payload: unknown, mode?: number): DecodeEnvelope;
  readonly closed: boolean;
  /** Releases the enforcer; its session and vault stay. */
  close(): void;
  [Symbol.dispose](): void;
}

/**
 * Restores tokens in a reply that arrives in chunks. feed() returns the text
 * ready to show and holds back only a tail that could still become a token
 * (and, while the whole reply is at most eight hex digits, all of it, since
 * such a reply is looked up as a bare token value); finish() returns the
 * rest. The pieces joined equal decoding the whole reply as one JSON string.
 */
export class StreamDecoder {
  constructor(enforcer: Enforcer, mode?: number);
  feed(chunk: string): string;
  finish(): string;
}
