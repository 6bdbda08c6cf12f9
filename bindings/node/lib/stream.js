'use strict';
// Decoding of a model reply that arrives in chunks.

// What may follow a "<" that is still on its way to becoming a token, for
// unsigned tokens only and for both kinds. Neither admits a complete token:
// once its ">" has arrived there is nothing left to wait for.
const UNSIGNED_PREFIX = /^(?:[A-Z0-9_]*|[A-Z0-9_]+:[0-9a-fA-F]{0,8})$/;
const SIGNED_PREFIX = /^(?:[A-Z0-9_]*|[A-Z0-9_]+:[0-9a-fA-F]{0,8}|[A-Z0-9_]+:[0-9a-fA-F]{8}-[0-9]{0,3})$/;
// A reply that could still turn out to be exactly eight hex digits, which the
// library restores as a bare token value.
const BARE_PREFIX = /^[0-9a-fA-F]{0,8}$/;

/**
 * Where the shortest tail of `text` that could still become a token starts;
 * text.length when nothing needs holding. A token holds a single "<", so only
 * the last one can start an unfinished token.
 */
function heldTailStart(text, signed) {
  const at = text.lastIndexOf('<');
  if (at < 0) return text.length;
  return (signed ? SIGNED_PREFIX : UNSIGNED_PREFIX).test(text.slice(at + 1)) ? at : text.length;
}

function endsInHighSurrogate(text) {
  const last = text.charCodeAt(text.length - 1);
  return last >= 0xd800 && last <= 0xdbff;
}

/**
 * Restores tokens in a reply that arrives in chunks. The pieces joined equal
 * what Enforcer.decode gives for the whole reply as one JSON string, as long
 * as no restored value itself holds token text.
 */
class StreamDecoder {
  #enforcer;
  #mode;
  #signed;
  #held = '';
  #released = false;
  #finished = false;

  constructor(enforcer, mode = 0) {
    this.#enforcer = enforcer;
    this.#mode = mode;
    // Signed tokens are restored only in mode 1; elsewhere a "-" after the
    // value ends every chance of a restorable token.
    this.#signed = mode === 1;
  }

  feed(chunk) {
    if (this.#finished) throw new Error('feed after finish');
    if (typeof chunk !== 'string') throw new TypeError('chunk must be a string');
    const text = this.#held + chunk;
    if (!this.#released && BARE_PREFIX.test(text)) {
      this.#held = text;
      return '';
    }
    let cut = heldTailStart(text, this.#signed);
    // A chunk may end between the two halves of a surrogate pair, which
    // have no UTF-8 form apart.
    if (cut === text.length && cut > 0 && endsInHighSurrogate(text)) cut -= 1;
    this.#held = text.slice(cut);
    if (cut === 0) return '';
    this.#released = true;
    return this.#restorePart(text.slice(0, cut));
  }

  finish() {
    if (this.#finished) return '';
    this.#finished = true;
    const text = this.#held;
    this.#held = '';
    if (text === '') return '';
    if (!this.#released) return this.#decode(text); // the whole reply: the bare-value rule applies
    return this.#restorePart(text);
  }

  #restorePart(part) {
    // Part of a longer reply. Without a "<" it holds no token, and the
    // library must not see it alone: eight hex digits would be taken for a
    // bare value, which only a whole reply can be.
    if (!part.includes('<')) return part;
    return this.#decode(part);
  }

  #decode(text) {
    return this.#enforcer.decode(JSON.stringify(text), this.#mode).payload;
  }
}

module.exports = { StreamDecoder, heldTailStart };
