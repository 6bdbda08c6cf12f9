'use strict';
// Config and Enforcer: the policy handle and the per-conversation object.

const native = require('./native');

const INT32_MIN = -(2 ** 31);
const INT32_MAX = 2 ** 31 - 1;

function rejected(message, code) {
  const err = new Error(message);
  err.code = code;
  return err;
}

// A text argument as the library takes it: a string (sent as UTF-8) or
// bytes, with its length in bytes.
function textArgument(text, what) {
  if (typeof text === 'string') {
    // Lone surrogates have no UTF-8 form; refuse them rather than send U+FFFD.
    if (!text.isWellFormed()) throw rejected(`${what} is not well-formed Unicode`, 'ERR_QUORVEL_REJECTED');
    return [text, Buffer.byteLength(text, 'utf8')];
  }
  if (text instanceof Uint8Array) {
    const bytes = Buffer.isBuffer(text) ? text : Buffer.from(text.buffer, text.byteOffset, text.byteLength);
    return [bytes, bytes.length];
  }
  throw new TypeError(`${what} must be a string or a Uint8Array`);
}

function payloadArgument(payload) {
  if (typeof payload === 'string' || payload instanceof Uint8Array) return textArgument(payload, 'payload');
  const json = JSON.stringify(payload);
  if (json === undefined) throw new TypeError('payload has no JSON form');
  return textArgument(json, 'payload');
}

// Releases handles that were never closed once their owner is collected.
const collected = new FinalizationRegistry(({ ptr, drop }) => drop(ptr));

class Handle {
  constructor(owner, ptr, drop, what) {
    this.ptr = ptr;
    this.drop = drop;
    this.what = what;
    collected.register(owner, { ptr, drop }, this);
  }

  get() {
    if (this.ptr === null) throw rejected(`${this.what} is closed`, 'ERR_QUORVEL_CLOSED');
    return this.ptr;
  }

  close() {
    if (this.ptr === null) return;
    collected.unregister(this);
    const ptr = this.ptr;
    this.ptr = null;
    this.drop(ptr);
  }
}

// The native pointer of a Config, for Enforcer only.
let configPointer;

/**
 * A policy, shared by the enforcers created from it. Enforcers keep their own
 * reference, so a config may be closed as soon as its enforcers exist.
 */
class Config {
  #handle;

  /** @private Use Config.fromJson or Config.default. */
  constructor(ptr) {
    if (ptr === null) throw rejected('policy rejected', 'ERR_QUORVEL_REJECTED');
    this.#handle = new Handle(this, ptr, native.configDrop, 'config');
  }

  static fromJson(text) {
    const [data, len] = textArgument(text, 'policy');
    return new Config(native.configFromJson(data, len));
  }

  static default() {
    return new Config(native.configDefault());
  }

  get active() {
    return native.configActive(this.#handle.get());
  }

  get policyName() {
    return native.configPolicyName(this.#handle.get());
  }

  get policyVersion() {
    return native.configPolicyVersion(this.#handle.get());
  }

  get closed() {
    return this.#handle.ptr === null;
  }

  close() {
    this.#handle.close();
  }

  [Symbol.dispose]() {
    this.close();
  }

  static {
    configPointer = (config) => {
      if (!(config instanceof Config)) throw new TypeError('config must be a Config');
      return config.#handle.get();
    };
  }
}

/**
 * The per-conversation object. Enforcers created for the same session id
 * share one token vault for the life of the process, across worker threads
 * too. Closing an enforcer does not end its session.
 */
class Enforcer {
  #handle;
  #sessionId;

  constructor(config, sessionId = '') {
    const [sid, len] = textArgument(sessionId, 'sessionId');
    const ptr = native.enforcerCreate(configPointer(config), sid, len);
    if (ptr === null) throw new Error('quorvel_enforcer_create failed');
    this.#handle = new Handle(this, ptr, native.enforcerDrop, 'enforcer');
    this.#sessionId = sessionId;
  }

  get sessionId() {
    return this.#sessionId;
  }

  #call(fn, payload, flag) {
    const [data, len] = payloadArgument(payload);
    const text = fn(this.#handle.get(), data, len, flag);
    if (text === null) {
      throw rejected('payload rejected: not exactly one JSON value in UTF-8', 'ERR_QUORVEL_REJECTED');
    }
    return JSON.parse(text);
  }

  encode(payload, withSignature = false) {
    return this.#call(native.encode, payload, withSignature ? 1 : 0);
  }

  decode(payload, mode = 0) {
    if (typeof mode !== 'number') throw new TypeError('mode must be a number');
    if (!Number.isInteger(mode) || mode < INT32_MIN || mode > INT32_MAX) {
      throw new RangeError('mode must be a 32-bit integer');
    }
    return this.#call(native.decode, payload, mode);
  }

  get closed() {
    return this.#handle.ptr === null;
  }

  close() {
    this.#handle.close();
  }

  [Symbol.dispose]() {
    this.close();
  }
}

module.exports = { Config, Enforcer, Handle };
