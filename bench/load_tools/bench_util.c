#include "bench_util.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

double bench_now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

int bench_by_value(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

void bench_get_request(char* out, size_t capacity, const char* path, const char* auth) {
    snprintf(out, capacity, "GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: Basic %s\r\n\r\n", path, auth);
}

static struct sockaddr_in loopback(int port) {
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons((unsigned short)port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

int http_get(int port, const char* request, int waitSeconds, char* answer, size_t capacity, size_t* size) {
    *size = 0;
    answer[0] = '\0';
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    struct timeval tv = {waitSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    struct sockaddr_in addr = loopback(port);
    int complete = 0;
    if (connect(fd, (struct sockaddr*)&addr, sizeof addr) == 0 &&
        send(fd, request, strlen(request), MSG_NOSIGNAL) == (ssize_t)strlen(request)) {
        ssize_t n = -1;
        while (*size < capacity - 1 && (n = recv(fd, answer + *size, capacity - 1 - *size, 0)) > 0)
            *size += (size_t)n;
        complete = n == 0;
    }
    close(fd);
    answer[*size] = '\0';
    return complete;
}

int bench_listen_loopback(int port, int backlog, int* bound) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    struct sockaddr_in addr = loopback(port);
    socklen_t size = sizeof addr;
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, (struct sockaddr*)&addr, sizeof addr) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, (struct sockaddr*)&addr, &size) != 0) {
        const int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    *bound = ntohs(addr.sin_port);
    return fd;
}
