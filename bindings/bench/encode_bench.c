/* The cost of one quorvel_encode of the 1 KiB payload, called straight from
 * C: the base line for the bindings' per-call overhead.
 *
 *   encode_bench POLICY PAYLOAD [ITERATIONS [ROUNDS]]
 */
#include <quorvel/quorvel.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static char* slurp(const char* path, size_t* len) {
  FILE* f = fopen(path, "rb");
  if (f == NULL) return NULL;
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  char* buf = malloc((size_t)size + 1);
  *len = fread(buf, 1, (size_t)size, f);
  fclose(f);
  /* The other benchmarks send the payload without its final newline. */
  while (*len > 0 && (buf[*len - 1] == '\n' || buf[*len - 1] == '\r')) --*len;
  buf[*len] = '\0';
  return buf;
}

static double now_us(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec * 1e6 + (double)ts.tv_nsec / 1e3;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s POLICY PAYLOAD [ITERATIONS [ROUNDS]]\n", argv[0]);
    return 2;
  }
  const long iterations = argc > 3 ? atol(argv[3]) : 2000;
  const long rounds = argc > 4 ? atol(argv[4]) : 10;
  size_t policy_len = 0, payload_len = 0;
  char* policy = slurp(argv[1], &policy_len);
  char* payload = slurp(argv[2], &payload_len);
  if (policy == NULL || payload == NULL) {
    fprintf(stderr, "cannot read %s or %s\n", argv[1], argv[2]);
    return 2;
  }
  ConfigHandle* config = quorvel_config_from_json(policy, policy_len);
  if (config == NULL) {
    fprintf(stderr, "policy rejected\n");
    return 1;
  }
  double best = -1;
  for (long r = 0; r < rounds; ++r) {
    /* Every encode stores new mappings; a session per round keeps the vault
     * at the size of a long conversation rather than of the whole run. */
    char session[32];
    const int session_len = snprintf(session, sizeof session, "bench-%ld", r);
    Enforcer* enforcer = quorvel_enforcer_create(config, session, (size_t)session_len);
    const double start = now_us();
    for (long i = 0; i < iterations; ++i) {
      char* out = quorvel_encode(enforcer, payload, payload_len, 0);
      if (out == NULL) {
        fprintf(stderr, "payload rejected\n");
        return 1;
      }
      quorvel_free(out);
    }
    const double per_call = (now_us() - start) / (double)iterations;
    if (best < 0 || per_call < best) best = per_call;
    quorvel_enforcer_drop(enforcer);
  }
  printf("c: %.2f us per encode of a %zu-byte payload (best of %ld rounds of %ld)\n", best, payload_len,
         rounds, iterations);
  quorvel_config_drop(config);
  free(policy);
  free(payload);
  return 0;
}
