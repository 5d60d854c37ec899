/* A server that is there and never answers: listens on 127.0.0.1:PORT (0:
 * any free port), prints the port alone on the first line of standard
 * output, accepts every connection and never reads or writes on it. It
 * keeps the newest MAX connections open and closes older ones, and runs
 * until it is killed. Usage: silent_listener PORT [MAX] */
#define _GNU_SOURCE /* accept4 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv) {
    const int port = argc > 1 ? atoi(argv[1]) : -1;
    const int max = argc > 2 ? atoi(argv[2]) : 256;
    if (port < 0 || port > 65535 || max <= 0 || max > 900) {
        fprintf(stderr, "usage: silent_listener PORT [MAX]\n");
        return 2;
    }
    int* held = calloc((size_t)max, sizeof(int));
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons((unsigned short)port);
    socklen_t size = sizeof addr;
    const int on = 1; /* the port again after a restart */
    if (!held || listener < 0 || setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(listener, (struct sockaddr*)&addr, sizeof addr) != 0 || listen(listener, 128) != 0 ||
        getsockname(listener, (struct sockaddr*)&addr, &size) != 0) {
        perror("silent_listener");
        return 1;
    }
    printf("%d\n", ntohs(addr.sin_port));
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
