/* One user's requests one after another, each timed: COUNT HTTP/1.0
 * requests to 127.0.0.1:PORT, the next sent when the previous is answered.
 * Prints the median and the worst latency in milliseconds over all of them
 * and the number of failed ones (no answer within WAIT seconds, default
 * 10, or a status other than 200, or a body lacking EXPECT); a failed
 * request counts with the time it took. Usage: latency_probe PORT PATH
 * AUTH COUNT EXPECT [WAIT] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench_util.h"

int main(int argc, char** argv) {
    if (argc != 6 && argc != 7) {
        fprintf(stderr, "usage: %s PORT PATH AUTH COUNT EXPECT [WAIT]\n", argv[0]);
        return 2;
    }
    const int port = atoi(argv[1]);
    const int count = atoi(argv[4]);
    const char* expect = argv[5];
    const int waitSeconds = argc == 7 ? atoi(argv[6]) : 10;
    if (port <= 0 || count <= 0 || count > 10000 || waitSeconds <= 0 || waitSeconds > 300)
        return 2;
    static char request[4096];
    bench_get_request(request, sizeof request, argv[2], argv[3]);
    double* samples = malloc((size_t)count * sizeof(double));
    if (!samples)
        return 1;
    int failed = 0;
    static char answer[65536];
    for (int i = 0; i < count; ++i) {
        size_t size;
        const double start = bench_now();
        http_get(port, request, waitSeconds, answer, sizeof answer, &size);
        samples[i] = (bench_now() - start) * 1000.0;
        if (!strstr(answer, " 200 ") || !strstr(answer, expect))
            ++failed;
    }
    qsort(samples, (size_t)count, sizeof(double), bench_by_value);
    printf("%.2f %.2f %d\n", samples[count / 2], samples[count - 1], failed);
    free(samples);
    return 0;
}
