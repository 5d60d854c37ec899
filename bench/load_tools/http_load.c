/* A small bounded HTTP load: CONNECTIONS threads, each sending one
 * HTTP/1.0 request at a time to 127.0.0.1:PORT for SECONDS seconds.
 * Prints requests per second, the number of failed requests (no answer
 * within WAIT seconds, default 10, or a status other than 200, or a body
 * lacking EXPECT) and the median latency of the good ones in milliseconds.
 * Usage: http_load PORT PATH AUTH CONNECTIONS SECONDS EXPECT [WAIT] */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench_util.h"

static int port;
static const char* request;
static const char* expect;
static double deadline;
static int waitSeconds = 10;

/* Latencies kept per thread; past this many a thread stops recording. */
#define MAX_SAMPLES 200000

struct counts {
    long ok;
    long failed;
    double* samples;
    long recorded;
};

static int exchange(void) {
    char answer[16384];
    size_t size;
    http_get(port, request, waitSeconds, answer, sizeof answer, &size);
    return strstr(answer, " 200 ") != NULL && strstr(answer, expect) != NULL;
}

static void* worker(void* arg) {
    struct counts* c = arg;
    double t = bench_now();
    while (t < deadline) {
        const int good = exchange();
        const double end = bench_now();
        if (good) {
            ++c->ok;
            if (c->recorded < MAX_SAMPLES)
                c->samples[c->recorded++] = end - t;
        } else {
            ++c->failed;
        }
        t = end;
    }
    return NULL;
}

int main(int argc, char** argv) {
    if (argc != 7 && argc != 8) {
        fprintf(stderr, "usage: %s PORT PATH AUTH CONNECTIONS SECONDS EXPECT [WAIT]\n", argv[0]);
        return 2;
    }
    if (argc == 8)
        waitSeconds = atoi(argv[7]);
    port = atoi(argv[1]);
    const int connections = atoi(argv[4]);
    const double seconds = atof(argv[5]);
    expect = argv[6];
    if (port <= 0 || connections <= 0 || connections > 64 || seconds <= 0 || seconds > 300 || waitSeconds <= 0 ||
        waitSeconds > 300)
        return 2;
    static char text[4096];
    bench_get_request(text, sizeof text, argv[2], argv[3]);
    request = text;
    pthread_t threads[64];
    struct counts counts[64];
    memset(counts, 0, sizeof counts);
    for (int i = 0; i < connections; ++i) {
        counts[i].samples = malloc(MAX_SAMPLES * sizeof(double));
        if (!counts[i].samples)
            return 1;
    }
    const double start = bench_now();
    deadline = start + seconds;
    for (int i = 0; i < connections; ++i)
        pthread_create(&threads[i], NULL, worker, &counts[i]);
    long ok = 0, failed = 0, recorded = 0;
    for (int i = 0; i < connections; ++i) {
        pthread_join(threads[i], NULL);
        ok += counts[i].ok;
        failed += counts[i].failed;
        recorded += counts[i].recorded;
    }
    const double elapsed = bench_now() - start;
    double* all = malloc((size_t)(recorded ? recorded : 1) * sizeof(double));
    if (!all)
        return 1;
    long n = 0;
    for (int i = 0; i < connections; ++i)
        for (long j = 0; j < counts[i].recorded; ++j)
            all[n++] = counts[i].samples[j];
    qsort(all, (size_t)n, sizeof(double), bench_by_value);
    printf("%.0f %ld %.2f\n", (double)ok / elapsed, failed, n ? all[n / 2] * 1000.0 : 0.0);
    return 0;
}
