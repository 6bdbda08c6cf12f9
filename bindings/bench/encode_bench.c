/* The cost of one quorvel_encode of the 1 KiB payload, called straight from
 * C: the base line for the bindings' per-call overhead. Many short rounds and
 * the best of them, so that a round without interference from other
 * processes is likely.
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

static double now_us(clockid_t clock) {
  struct timespec ts;
  clock_gettime(clock, &ts);
  return (double)ts.tv_sec * 1e6 + (double)ts.tv_nsec / 1e3;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s POLICY PAYLOAD [ITERATIONS [ROUNDS]]\n", argv[0]);
    return 2;
  }
  const long iterations = argc > 3 ? atol(argv[3]) : 500;
  const long rounds = argc > 4 ? atol(argv[4]) : 40;
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
  /* CPU time is the figure: on a shared machine the wall clock also counts
   * the time other processes hold the core. */
  double best_cpu = -1, best_wall = -1;
  for (long r = 0; r < rounds; ++r) {
    /* Every encode stores new mappings; a session per round keeps the vault
     * at the size of a long conversation rather than of the whole run. */
    char session[32];
    const int session_len = snprintf(session, sizeof session, "bench-%ld", r);
    Enforcer* enforcer = quorvel_enforcer_create(config, session, (size_t)session_len);
    const double cpu_start = now_us(CLOCK_PROCESS_CPUTIME_ID);
    const double wall_start = now_us(CLOCK_MONOTONIC);
    for (long i = 0; i < iterations; ++i) {
      char* out = quorvel_encode(enforcer, payload, payload_len, 0);
      if (out == NULL) {
        fprintf(stderr, "payload rejected\n");
        return 1;
      }
      quorvel_free(out);
    }
    const double cpu = (now_us(CLOCK_PROCESS_CPUTIME_ID) - cpu_start) / (double)iterations;
    const double wall = (now_us(CLOCK_MONOTONIC) - wall_start) / (double)iterations;
    if (best_cpu < 0 || cpu < best_cpu) best_cpu = cpu;
    if (best_wall < 0 || wall < best_wall) best_wall = wall;
    quorvel_enforcer_drop(enforcer);
  }
  printf("c: %.2f us per encode of a %zu-byte payload (CPU time, best of %ld rounds of %ld; wall %.2f us)\n",
         best_cpu, payload_len, rounds, iterations, best_wall);
  quorvel_config_drop(config);
  free(policy);
  free(payload);
  return 0;
}
