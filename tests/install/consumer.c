/* A host built against the installed package: it loads a policy, encodes a
 * message, and gets the original back from the token. */
#include <quorvel/quorvel.h>

#include <stdio.h>
#include <string.h>

static const char kPolicy[] =
    "{\"policy_name\":\"consumer\",\"policy_version\":\"1\",\"quorvel_policy\":{"
    "\"masking\":true,\"mapping\":true,\"masking_rules\":[],\"mapping_rules\":[],"
    "\"pii_config\":{\"backend\":{\"type\":\"regex\",\"patterns\":["
    "{\"name\":\"EMAIL\",\"pattern\":\"[a-z]+@[a-z]+\\\\.org\"}]}}}}";

int main(void) {
  int ok = 0;
  ConfigHandle* config = quorvel_config_from_json(kPolicy, strlen(kPolicy));
  Enforcer* e = quorvel_enforcer_create(config, "consumer", 8);
  quorvel_config_drop(config);

  const char msg[] = "{\"text\":\"mail ada@example.org\"}";
  char* encoded = quorvel_encode(e, msg, strlen(msg), 0);
  const char* token = encoded != NULL ? strstr(encoded, "<EMAIL:") : NULL;
  if (token != NULL && strstr(encoded, "ada@example.org") == NULL) {
    char reply[64];
    snprintf(reply, sizeof reply, "\"%.16s\"", token);
    char* decoded = quorvel_decode(e, reply, strlen(reply), 0);
    ok = decoded != NULL && strstr(decoded, "\"payload\":\"ada@example.org\"") != NULL;
    quorvel_free(decoded);
  }
  quorvel_free(encoded);
  quorvel_enforcer_drop(e);
  printf("quorvel %d.%d.%d: %s\n", QUORVEL_VERSION_MAJOR, QUORVEL_VERSION_MINOR,
         QUORVEL_VERSION_PATCH, ok ? "round trip ok" : "round trip FAILED");
  return ok ? 0 : 1;
}
