/* What the bench tools share: a monotonic clock, a sort order, the HTTP/1.0
 * GET they send and one exchange of it with 127.0.0.1, and a loopback
 * listener. */
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Seconds on the monotonic clock. */
double bench_now(void);

/* qsort order of doubles, smallest first. */
int bench_by_value(const void* a, const void* b);

/* Formats into out (capacity bytes) the GET of path with HTTP basic login
 * auth (base64 of user:password) that the load tools send. */
void bench_get_request(char* out, size_t capacity, const char* path, const char* auth);

/* One HTTP exchange with 127.0.0.1:port: sends request, then reads the
 * answer into answer (capacity bytes, kept NUL-terminated) until the
 * server closes, the answer fills it, or waitSeconds pass without a byte.
 * *size gets the bytes read. Returns 1 when the server closed the
 * connection after answering: the whole answer is there. */
int http_get(int port, const char* request, int waitSeconds, char* answer, size_t capacity, size_t* size);

/* A socket listening on 127.0.0.1:port (0: any free port), able to take the
 * port again at once after a restart; its descriptor, with the port in
 * *bound, or -1 with errno set. */
int bench_listen_loopback(int port, int backlog, int* bound);

#ifdef __cplusplus
}
#endif
