/* One HTTP exchange with 127.0.0.1:port for the bench programs: sends
 * request, then reads the answer into answer (capacity bytes, kept
 * NUL-terminated) until the server closes, the answer fills it, or
 * waitSeconds pass without a byte. *size gets the bytes read. Returns 1
 * when the server closed the connection after answering: the whole
 * answer is there. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

static int http_get(int port, const char* request, int waitSeconds, char* answer, size_t capacity, size_t* size) {
    *size = 0;
    answer[0] = '\0';
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    struct timeval tv = {waitSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons((unsigned short)port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int complete = 0;
    if (connect(fd, (struct sockaddr*)&addr, sizeof addr) == 0 &&
        send(fd, request, strlen(request), MSG_NOSIGNAL) == (ssize_t)strlen(request)) {
        ssize_t n;
        while (*size < capacity - 1 && (n = recv(fd, answer + *size, capacity - 1 - *size, 0)) > 0)
            *size += (size_t)n;
        complete = n == 0;
    }
    close(fd);
    answer[*size] = '\0';
    return complete;
}
