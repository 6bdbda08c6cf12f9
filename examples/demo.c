/* A host's round trip through the library: encode a payload for the model,
 * let a stand-in model answer with the tokens it saw (rearranged, some with
 * their signature and some without), and restore the originals.
 *
 *   quorvel_demo POLICY.json PAYLOAD.json
 */
#include <quorvel/quorvel.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char* read_file(const char* path, size_t* len) {
  FILE* f = fopen(path, "rb");
  if (f == NULL) return NULL;
  size_t cap = 4096, n = 0;
  char* buf = malloc(cap);
  size_t got;
  while (buf != NULL && (got = fread(buf + n, 1, cap - n, f)) > 0) {
    n += got;
    if (n == cap) {
      char* bigger = realloc(buf, cap *= 2);
      if (bigger == NULL) free(buf);
      buf = bigger;
    }
  }
  fclose(f);
  *len = n;
  return buf;
}

/* Copies the tokens of `text` ("<TYPE:VALUE>" or "<TYPE:VALUE-NNN>") into
 * `tokens`, at most `max`, each at most 63 bytes. */
static int collect_tokens(const char* text, char tokens[][64], int max) {
  int count = 0;
  for (const char* p = strchr(text, '<'); p != NULL && count < max; p = strchr(p + 1, '<')) {
    const char* q = p + 1;
    while ((*q >= 'A' && *q <= 'Z') || (*q >= '0' && *q <= '9') || *q == '_') ++q;
    if (q == p + 1 || *q != ':' || strspn(q + 1, "0123456789abcdef") < 8) continue;
    const char* end = strchr(q, '>');
    if (end == NULL || end - p >= 63) continue;
    memcpy(tokens[count], p, (size_t)(end - p + 1));
    tokens[count][end - p + 1] = '\0';
    ++count;
  }
  return count;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s POLICY.json PAYLOAD.json\n", argv[0]);
    return 2;
  }
  size_t policy_len = 0, payload_len = 0;
  char* policy = read_file(argv[1], &policy_len);
  char* payload = read_file(argv[2], &payload_len);
  if (policy == NULL || payload == NULL) {
    fprintf(stderr, "cannot read %s\n", policy == NULL ? argv[1] : argv[2]);
    return 1;
  }

  ConfigHandle* config = quorvel_config_from_json(policy, policy_len);
  if (config == NULL) {
    fprintf(stderr, "%s: the policy was rejected\n", argv[1]);
    return 1;
  }
  char* name = quorvel_config_policy_name(config);
  char* version = quorvel_config_policy_version(config);
  printf("Policy: %s %s (%s)\n\n", name, version, quorvel_config_active(config) ? "active" : "inactive");
  quorvel_free(name);
  quorvel_free(version);

  Enforcer* enforcer = quorvel_enforcer_create(config, "demo-session", 12);
  quorvel_config_drop(config); /* the enforcer keeps the policy */

  printf("== What the host sent\n%.*s\n", (int)payload_len, payload);
  char* encoded = quorvel_encode(enforcer, payload, payload_len, 1);
  if (encoded == NULL) {
    fprintf(stderr, "%s: not a JSON payload\n", argv[2]);
    return 1;
  }
  printf("== What the model sees (encode envelope)\n%s\n\n", encoded);

  /* The model answers with what it saw, in another order: a reply that keeps
   * the signatures and a tool call whose arguments lost them. */
  char tokens[16][64];
  const int n = collect_tokens(encoded, tokens, 16);
  char reply[4096];
  size_t used = (size_t)snprintf(reply, sizeof reply, "{\"content\":\"Thanks! I will contact you at");
  for (int i = n - 1; i >= 0 && used < sizeof reply - 512; --i) {
    used += (size_t)snprintf(reply + used, sizeof reply - used, " %s", tokens[i]);
  }
  used += (size_t)snprintf(reply + used, sizeof reply - used,
                           ".\",\"tool_call\":{\"name\":\"send_email\",\"arguments\":{\"to\":\"");
  if (n > 0) {
    char* dash = strchr(tokens[0], '-');
    if (dash != NULL) strcpy(dash, ">");
    used += (size_t)snprintf(reply + used, sizeof reply - used, "%s", tokens[0]);
  }
  snprintf(reply + used, sizeof reply - used, "\",\"subject\":\"Your order\"}}}");
  printf("== What the model replied\n%s\n\n", reply);

  char* decoded = quorvel_decode(enforcer, reply, strlen(reply), 1);
  printf("== What the host got back (decode envelope)\n%s\n", decoded ? decoded : "(null)");

  quorvel_free(decoded);
  quorvel_free(encoded);
  quorvel_enforcer_drop(enforcer);
  free(policy);
  free(payload);
  return 0;
}
