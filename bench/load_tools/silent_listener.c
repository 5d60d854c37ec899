/* A server that is there and never answers: listens on 127.0.0.1:PORT (0:
 * any free port), prints the port alone on the first line of standard
 * output, accepts every connection and never reads or writes on it. It
 * keeps the newest MAX connections open and closes older ones, and runs
 * until it is killed. Usage: silent_listener PORT [MAX] */
#define _GNU_SOURCE /* accept4 */
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench_util.h"

int main(int argc, char** argv) {
    const int port = argc > 1 ? atoi(argv[1]) : -1;
    const int max = argc > 2 ? atoi(argv[2]) : 256;
    if (port < 0 || port > 65535 || max <= 0 || max > 900) {
        fprintf(stderr, "usage: silent_listener PORT [MAX]\n");
        return 2;
    }
    int* held = calloc((size_t)max, sizeof(int));
    int bound = 0;
    const int listener = held ? bench_listen_loopback(port, 128, &bound) : -1;
    if (listener < 0) {
        perror("silent_listener");
        return 1;
    }
    printf("%d\n", bound);
    fflush(stdout);
    for (long next = 0;; ++next) {
        const int fd = accept4(listener, NULL, NULL, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        if (held[next % max] > 0)
            close(held[next % max]);
        held[next % max] = fd;
    }
}
