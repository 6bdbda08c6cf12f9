/*
 * quorvel.h: the C interface of libquorvel_ffi.
 *
 * The library protects personal data in the JSON payloads that a host
 * exchanges with an LLM agent. A host builds a configuration from a policy
 * document, creates one enforcer per conversation session, passes every
 * payload that goes to the model through quorvel_encode and every payload
 * that comes back through quorvel_decode.
 *
 * Conventions, valid for every function below:
 *  - Text arguments are a pointer plus a length in bytes. The text need not
 *    be NUL-terminated and is read exactly `len` bytes far; the library copies
 *    what it keeps and holds no pointer into caller memory after returning.
 *    Texts must be well-formed UTF-8.
 *  - Every returned `char*` is a new NUL-terminated UTF-8 string owned by the
 *    caller, who releases it exactly once with quorvel_free.
 *  - Null in gives null out. A failure is a null result (false for
 *    quorvel_config_active); there is no error text and nothing is printed.
 *  - Every function may be called from any thread, also concurrently on the
 *    same handle or enforcer. A handle must not be dropped while another
 *    thread still uses that same handle.
 *  - Nothing throws, longjmps or unwinds across this interface. Running out
 *    of memory aborts the process.
 */
#ifndef QUORVEL_QUORVEL_H_
#define QUORVEL_QUORVEL_H_

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#define QUORVEL_VERSION_MAJOR 0
#define QUORVEL_VERSION_MINOR 1
#define QUORVEL_VERSION_PATCH 0

#if defined(QUORVEL_BUILDING_LIBRARY)
#define QUORVEL_EXPORT __attribute__((visibility("default")))
#else
#define QUORVEL_EXPORT
#endif

#ifdef __cplusplus
#define QUORVEL_NOEXCEPT noexcept
extern "C" {
#else
#define QUORVEL_NOEXCEPT
#endif

/* A configuration: one counted reference to an immutable parsed policy.
 * Enforcers keep their own reference, so a handle may be dropped as soon as
 * its enforcers exist. */
typedef struct ConfigHandle ConfigHandle;

/* The per-conversation object. Enforcers created for the same session id
 * share one token vault for the life of the process. */
typedef struct Enforcer Enforcer;

/* ---- Configuration ------------------------------------------------------ */

/* Returns a handle on the default policy (inactive, named "default",
 * version "0.0.0"). Never null. Release with quorvel_config_drop. */
QUORVEL_EXPORT ConfigHandle* quorvel_config_default(void) QUORVEL_NOEXCEPT;

/* Reads a policy document (JSON). Returns null if `json` is null, the text is
 * not UTF-8, not one JSON value, or the policy fails validation (unsupported
 * schema_version, empty policy_name or policy_version, a pattern that does not
 * compile, a hash strategy whose salt variable is unset). */
QUORVEL_EXPORT ConfigHandle* quorvel_config_from_json(const char* json, size_t len) QUORVEL_NOEXCEPT;

/* Returns a new handle sharing the same policy; null for a null handle. */
QUORVEL_EXPORT ConfigHandle* quorvel_config_clone(const ConfigHandle* handle) QUORVEL_NOEXCEPT;

/* Releases the handle; the policy goes when its last holder lets go.
 * Null is ignored. */
QUORVEL_EXPORT void quorvel_config_drop(ConfigHandle* handle) QUORVEL_NOEXCEPT;

/* The policy's master switch; false for a null handle. */
QUORVEL_EXPORT bool quorvel_config_active(const ConfigHandle* handle) QUORVEL_NOEXCEPT;

/* The policy's name and version as new strings (free with quorvel_free);
 * null for a null handle. A name holding U+0000 comes back as "". */
QUORVEL_EXPORT char* quorvel_config_policy_name(const ConfigHandle* handle) QUORVEL_NOEXCEPT;
QUORVEL_EXPORT char* quorvel_config_policy_version(const ConfigHandle* handle) QUORVEL_NOEXCEPT;

/* ---- Enforcers ---------------------------------------------------------- */

/* Creates an enforcer for a session. Null for a null handle. A null, empty
 * or non-UTF-8 session id selects the one session with the empty id.
 * Release with quorvel_enforcer_drop; the session and its vault stay. */
QUORVEL_EXPORT Enforcer* quorvel_enforcer_create(const ConfigHandle* handle,
                                                 const char* session_id, size_t len) QUORVEL_NOEXCEPT;

/* Releases the enforcer. Null is ignored. */
QUORVEL_EXPORT void quorvel_enforcer_drop(Enforcer* enforcer) QUORVEL_NOEXCEPT;

/* ---- Payloads ----------------------------------------------------------- */

/* Masks and tokenizes a payload on its way to the model. Returns the envelope
 *   {"payload":...,"signature_injection_text":"...","rules_applied_count":N,
 *    "rule_names":[...],"policy_name":"..."}
 * or null if the enforcer or `json` is null, or the text is not UTF-8 or not
 * exactly one JSON value. `with_signature` equal to 1 signs every token of the
 * call and returns a rule text for the model's system prompt. */
QUORVEL_EXPORT char* quorvel_encode(const Enforcer* enforcer, const char* json, size_t len,
                                    int32_t with_signature) QUORVEL_NOEXCEPT;

/* Restores tokens in a payload coming back from the model. Returns the
 * envelope {"payload":...,"rules_applied_count":N,"rule_names":[...],
 * "policy_name":"..."} or null as for quorvel_encode. `mode` equal to 1 also
 * restores signed tokens; any other value restores unsigned tokens only. */
QUORVEL_EXPORT char* quorvel_decode(const Enforcer* enforcer, const char* json, size_t len,
                                    int32_t mode) QUORVEL_NOEXCEPT;

/* Releases a string returned by this library. Null is ignored. */
QUORVEL_EXPORT void quorvel_free(char* str) QUORVEL_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUORVEL_QUORVEL_H_ */
