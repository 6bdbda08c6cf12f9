'use strict';
// Node binding of libquorvel_ffi: keeps PII out of the JSON payloads an
// application exchanges with an LLM agent. The shared library is taken from
// QUORVEL_LIB when that is set, else from this package's folder, else from
// the source tree's build/src/ffi/, else from the dynamic loader's path.

const { Config, Enforcer } = require('./lib/api');
const { StreamDecoder } = require('./lib/stream');

exports.Config = Config;
exports.Enforcer = Enforcer;
exports.StreamDecoder = StreamDecoder;
