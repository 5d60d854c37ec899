/* Sends ROUNDS rounds of every gateway mode, one request at a time, to a
 * FastCGI gateway on a socket file, and prints the gateway's resident
 * memory (kB) and open descriptors after round FIRST and after the last,
 * with the number of unexpected answers. Stops early past SECONDS.
 * Usage: fastcgi_soak SOCKET GATEWAY_PID SIM_HOST ROUNDS FIRST SECONDS */
#define _GNU_SOURCE /* memmem */
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "bench_util.h"

static const char* path;
static char answer[1 << 20];

static size_t record(char* out, int type, const char* content, size_t size) {
    const unsigned char header[8] = {1, (unsigned char)type, 0, 1, (unsigned char)(size >> 8), (unsigned char)size, 0,
                                     0};
    memcpy(out, header, 8);
    memcpy(out + 8, content, size);
    return 8 + size;
}

static size_t pair(char* out, const char* name, const char* value) {
    const size_t n = strlen(name), v = strlen(value);
    out[0] = (char)n;
    out[1] = (char)v;
    memcpy(out + 2, name, n);
    memcpy(out + 2 + n, value, v);
    return 2 + n + v;
}

/* One request; 1 when the answer holds expect and no error element. */
static int request(const char* method, const char* query, const char* body, const char* expect) {
    static char params[8192], wire[16384];
    size_t p = pair(params, "REQUEST_METHOD", method);
    p += pair(params + p, "REMOTE_USER", "soak");
    if (body) {
        char length[24];
        snprintf(length, sizeof length, "%zu", strlen(body));
        p += pair(params + p, "CONTENT_TYPE", "application/x-www-form-urlencoded");
        p += pair(params + p, "CONTENT_LENGTH", length);
    } else {
        p += pair(params + p, "QUERY_STRING", query);
    }
    const char begin[8] = {0, 1, 0, 0, 0, 0, 0, 0};
    size_t w = record(wire, 1, begin, 8);
    w += record(wire + w, 4, params, p);
    w += record(wire + w, 4, "", 0);
    if (body)
        w += record(wire + w, 5, body, strlen(body));
    w += record(wire + w, 5, "", 0);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    size_t got = 0;
    if (connect(fd, (struct sockaddr*)&address, sizeof address) == 0 && write(fd, wire, w) == (ssize_t)w) {
        ssize_t n;
        while (got < sizeof answer - 1 && (n = read(fd, answer + got, sizeof answer - 1 - got)) > 0)
            got += (size_t)n;
    }
    close(fd);
    answer[got] = '\0';
    /* Records split the text; the short answers here fit one record. */
    return memmem(answer, got, expect, strlen(expect)) && !memmem(answer, got, "<error>", 7);
}

static long status(const char* pid, const char* field) {
    char name[64], line[256];
    snprintf(name, sizeof name, "/proc/%s/status", pid);
    FILE* f = fopen(name, "r");
    long value = -1;
    while (f && fgets(line, sizeof line, f))
        if (strncmp(line, field, strlen(field)) == 0)
            value = atol(line + strlen(field));
    if (f)
        fclose(f);
    return value;
}

static long descriptors(const char* pid) {
    char name[64];
    snprintf(name, sizeof name, "/proc/%s/fd", pid);
    DIR* d = opendir(name);
    long n = 0;
    for (struct dirent* e; d && (e = readdir(d));)
        n += e->d_name[0] != '.';
    if (d)
        closedir(d);
    return n;
}

int main(int argc, char** argv) {
    if (argc != 7) {
        fprintf(stderr, "usage: %s SOCKET GATEWAY_PID SIM_HOST ROUNDS FIRST SECONDS\n", argv[0]);
        return 2;
    }
    path = argv[1];
    const char* pid = argv[2];
    const char* h = argv[3];
    const long rounds = atol(argv[4]), first = atol(argv[5]);
    const double deadline = bench_now() + atof(argv[6]);
    char q[11][512];
    snprintf(q[0], 512, "mode=getUser&host=%s&nodeId=/", h);
    snprintf(q[1], 512, "mode=saveUser&host=%s&nodeId=/&corvaneMetadata=%%3Cp%%2F%%3E", h);
    snprintf(q[2], 512, "mode=loadUser&host=%s&nodeId=/", h);
    snprintf(q[3], 512, "mode=isAdmin&host=%s&nodeId=/", h);
    snprintf(q[4], 512, "mode=getMetadata&host=%s&nodeId=/,/media/trailer&streamName=info", h);
    snprintf(q[5], 512, "mode=setMetadata&host=%s&nodeId=/scratch&streamName=notes&corvaneMetadata=x", h);
    snprintf(q[6], 512, "mode=createNode&host=%s&nodeId=/scratch&displayName=N&type=FOLDER", h);
    snprintf(q[7], 512, "mode=destroyNode&host=%s&nodeId=/scratch/N", h);
    snprintf(q[8], 512, "mode=createNode&host=%s&nodeId=/scratch&displayName=R&type=FOLDER", h);
    snprintf(q[9], 512, "mode=createNode&host=%s&nodeId=/scratch/R&displayName=c&type=FOLDER", h);
    snprintf(q[10], 512, "mode=destroyNodeRecursive&host=%s&nodeId=/scratch/R", h);
    const char* expect[11] = {
        "<response>soak</response>", "<response></response>",     "<response><p/></response>", "<response>",
        "<title>Trailer</title>",    "<response></response>",     "<node>/scratch/N</node>",   "<response></response>",
        "<node>/scratch/R</node>",   "<node>/scratch/R/c</node>", "<response></response>"};
    long bad = 0, done = 0, rssFirst = -1, fdFirst = -1;
    for (; done < rounds && bench_now() < deadline; ++done) {
        // The modes that write (saveUser and from setMetadata on) need a POST.
        for (int i = 0; i < 11; ++i)
            bad += !(i == 1 || i >= 5 ? request("POST", NULL, q[i], expect[i]) : request("GET", q[i], NULL, expect[i]));
        if (done + 1 == first) {
            rssFirst = status(pid, "VmRSS:");
            fdFirst = descriptors(pid);
        }
    }
    printf("%ld rounds of 11 requests, %ld unexpected answers\n", done, bad);
    printf("after round %ld: %ld kB resident, %ld descriptors\n", first, rssFirst, fdFirst);
    printf("after round %ld: %ld kB resident, %ld descriptors\n", done, status(pid, "VmRSS:"), descriptors(pid));
    return bad ? 1 : 0;
}
