'use strict';
// Loading of libquorvel_ffi and the prototypes of its twelve functions.

const fs = require('node:fs');
const path = require('node:path');
const koffi = require('koffi');

const LIB_NAME = 'libquorvel_ffi.so';
const PACKAGE_DIR = path.resolve(__dirname, '..');

function candidates() {
  // An explicit choice is never second-guessed by a fallback.
  if (process.env.QUORVEL_LIB) return [process.env.QUORVEL_LIB];
  return [
    path.join(PACKAGE_DIR, LIB_NAME),
    path.join(PACKAGE_DIR, '..', '..', 'build', 'src', 'ffi', LIB_NAME),
    LIB_NAME, // whatever the dynamic loader finds
  ];
}

function load() {
  const errors = [];
  for (const file of candidates()) {
    if (file.includes(path.sep) && !fs.existsSync(file)) {
      errors.push(`${file}: no such file`);
      continue;
    }
    try {
      return koffi.load(file);
    } catch (err) {
      errors.push(err.message);
    }
  }
  throw new Error(`cannot load libquorvel_ffi (set QUORVEL_LIB to its path): ${errors.join('; ')}`);
}

const lib = load();

koffi.opaque('ConfigHandle');
koffi.opaque('Enforcer');
const quorvelFree = lib.func('void quorvel_free(void *str)');
// Returned strings are copied into JS strings and then released at once.
koffi.disposable('QuorvelString', 'str', quorvelFree);

module.exports = {
  configDefault: lib.func('ConfigHandle *quorvel_config_default(void)'),
  configFromJson: lib.func('ConfigHandle *quorvel_config_from_json(const char *json, size_t len)'),
  configDrop: lib.func('void quorvel_config_drop(ConfigHandle *handle)'),
  configActive: lib.func('bool quorvel_config_active(const ConfigHandle *handle)'),
  configPolicyName: lib.func('QuorvelString quorvel_config_policy_name(const ConfigHandle *handle)'),
  configPolicyVersion: lib.func('QuorvelString quorvel_config_policy_version(const ConfigHandle *handle)'),
  enforcerCreate: lib.func(
    'Enforcer *quorvel_enforcer_create(const ConfigHandle *handle, const char *session_id, size_t len)'),
  enforcerDrop: lib.func('void quorvel_enforcer_drop(Enforcer *enforcer)'),
  encode: lib.func(
    'QuorvelString quorvel_encode(const Enforcer *enforcer, const char *json, size_t len, int32_t with_signature)'),
  decode: lib.func('QuorvelString quorvel_decode(const Enforcer *enforcer, const char *json, size_t len, int32_t mode)'),
};
