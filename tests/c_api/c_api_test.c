/* The public header used from plain C: null handling, the default policy,
 * an encode/decode round trip and the envelopes. */
#include <quorvel/quorvel.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;
static int checks = 0;

#define CHECK(cond)                                               \
  do {                                                            \
    ++checks;                                                     \
    if (!(cond)) {                                                \
      ++failures;                                                 \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                             \
  } while (0)

static int equals_and_free(char* s, const char* expected) {
  int same = s != NULL && strcmp(s, expected) == 0;
  if (!same) fprintf(stderr, "got: %s\nexpected: %s\n", s ? s : "(null)", expected);
  quorvel_free(s);
  return same;
}

static const char kPolicy[] =
    "{\"policy_name\":\"c-test\",\"quorvel_policy\":{\"masking\":true,\"mapping\":true,"
    "\"masking_rules\":[],\"mapping_rules\":[],\"pii_config\":{\"backend\":{\"type\":\"regex\","
    "\"patterns\":[{\"name\":\"EMAIL\",\"pattern\":\"[a-z]+@[a-z]+\\\\.com\"}]}}}}";

int main(void) {
  /* Null in, null out. */
  quorvel_free(NULL);
  quorvel_config_drop(NULL);
  quorvel_enforcer_drop(NULL);
  CHECK(!quorvel_config_active(NULL));
  CHECK(quorvel_config_clone(NULL) == NULL);
  CHECK(quorvel_config_policy_name(NULL) == NULL);
  CHECK(quorvel_config_policy_version(NULL) == NULL);
  CHECK(quorvel_config_from_json(NULL, 0) == NULL);
  CHECK(quorvel_enforcer_create(NULL, "s", 1) == NULL);
  CHECK(quorvel_encode(NULL, "{}", 2, 0) == NULL);
  CHECK(quorvel_decode(NULL, "{}", 2, 0) == NULL);

  /* The default policy. */
  ConfigHandle* def = quorvel_config_default();
  CHECK(def != NULL);
  CHECK(!quorvel_config_active(def));
  CHECK(equals_and_free(quorvel_config_policy_name(def), "default"));
  CHECK(equals_and_free(quorvel_config_policy_version(def), "0.0.0"));

  Enforcer* pass = quorvel_enforcer_create(def, NULL, 0);
  CHECK(pass != NULL);
  const char payload[] = "{ \"b\": 1, \"a\": [true, null] }";
  CHECK(equals_and_free(quorvel_encode(pass, payload, sizeof payload - 1, 1),
                        "{\"payload\":{\"a\":[true,null],\"b\":1},\"signature_injection_text\":\"\","
                        "\"rules_applied_count\":0,\"rule_names\":[],\"policy_name\":\"default\"}"));
  const char reply[] = "[\"x\", {\"k\": 2}]";
  CHECK(equals_and_free(quorvel_decode(pass, reply, sizeof reply - 1, 0),
                        "{\"payload\":[\"x\",{\"k\":2}],\"rules_applied_count\":0,"
                        "\"rule_names\":[],\"policy_name\":\"default\"}"));
  CHECK(quorvel_encode(pass, payload, 0, 0) == NULL);
  CHECK(quorvel_encode(pass, NULL, 5, 0) == NULL);
  quorvel_enforcer_drop(pass);
  quorvel_config_drop(def);

  /* An active policy: the handle may go before the enforcer. */
  ConfigHandle* cfg = quorvel_config_from_json(kPolicy, sizeof kPolicy - 1);
  CHECK(cfg != NULL);
  CHECK(quorvel_config_active(cfg));
  ConfigHandle* copy = quorvel_config_clone(cfg);
  Enforcer* e = quorvel_enforcer_create(cfg, "c-session", 9);
  quorvel_config_drop(cfg);
  CHECK(equals_and_free(quorvel_config_policy_name(copy), "c-test"));
  quorvel_config_drop(copy);

  const char msg[] = "\"write to ada@example.com\"";
  char* encoded = quorvel_encode(e, msg, sizeof msg - 1, 0);
  CHECK(encoded != NULL);
  if (encoded != NULL) {
    const char* start = strstr(encoded, "<EMAIL:");
    CHECK(start != NULL);
    CHECK(strstr(encoded, "ada@example.com") == NULL);
    CHECK(strstr(encoded, "\"rules_applied_count\":1,\"rule_names\":[\"EMAIL\"]") != NULL);
    if (start != NULL) {
      char back[64];
      int n = snprintf(back, sizeof back, "\"hi %.16s\"", start);
      CHECK(n > 0);
      CHECK(equals_and_free(quorvel_decode(e, back, strlen(back), 0),
                            "{\"payload\":\"hi ada@example.com\",\"rules_applied_count\":1,"
                            "\"rule_names\":[\"EMAIL\"],\"policy_name\":\"c-test\"}"));
    }
    quorvel_free(encoded);
  }
  quorvel_enforcer_drop(e);

  printf("%d passed, %d failed\n", checks - failures, failures);
  return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
