/* Drives the gateway through a cycle of server faults and checks every
 * answer. Eight threads each send one HTTP/1.0 request at a time to
 * 127.0.0.1:PORT for SECONDS seconds, while this program runs the server
 * (SIM_COMMAND, which must name a fixed port, with each phase's options
 * added) through phases of PHASE_MS each: healthy, then one fault (killed
 * and not restarted, replies held STALL_MS, garbage instead of replies,
 * replies cut off, connections closed, errors), healthy again, the next
 * fault, and so on. The server is killed (SIGKILL) at the end of every
 * phase and started again on the same port for the next.
 *
 * Every answer must be status 200 with either exactly the body in
 * RIGHT_FILE or the gateway's one error element, well formed:
 * "<response>\n\n<error>", text without markup in valid UTF-8, then
 * "</error>\n\n</response>\n". Anything else
 * is a WRONG answer; a request without an answer within 30 s is a LOST one.
 * After every healthy start a right answer must come within 1 s of the
 * server printing its port. Prints the answers of each kind of phase and
 * the slowest recovery; exits 1 on any violation. The server's standard
 * error goes to SIM_LOG; SIM_COMMAND starts with the program's path.
 * Usage: fault_soak PORT PATH AUTH RIGHT_FILE SECONDS PHASE_MS STALL_MS SIM_LOG SIM_COMMAND... */
#define _GNU_SOURCE /* memmem, pipe2 */
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "bench_util.h"

#define THREADS 8
#define WAIT_SECONDS 30
#define RECOVERY_LIMIT 1.0
#define MAX_ANSWER 65536
#define MAX_REPORTED 5

enum { RIGHT, ERROR, WRONG, LOST, KINDS };
static const char* const kKindNames[KINDS] = {"right", "error", "WRONG", "LOST"};

struct phase {
    const char* name;
    const char* options[3]; /* added to the server's command line */
    int down;               /* no server at all */
};
static char stallMs[16];
static const struct phase kPhases[] = {
    {"healthy", {NULL}, 0}, {"killed", {NULL}, 1},
    {"healthy", {NULL}, 0}, {"stalled", {"--delay-ms", stallMs, NULL}, 0},
    {"healthy", {NULL}, 0}, {"garbage", {"--garbage-on", "GetMetaData", NULL}, 0},
    {"healthy", {NULL}, 0}, {"cut", {"--cut-reply-on", "GetMetaData", NULL}, 0},
    {"healthy", {NULL}, 0}, {"closed", {"--close-on", "GetMetaData", NULL}, 0},
    {"healthy", {NULL}, 0}, {"failing", {"--fail-method", "GetMetaData:Disk on fire", NULL}, 0},
};
#define PHASES ((int)(sizeof kPhases / sizeof kPhases[0]))

static int port;
static char request[4096];
static char* right;
static size_t rightSize;
static double deadline;

/* Guards everything below it. */
static pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t answered = PTHREAD_COND_INITIALIZER;
static int phase;                       /* index into kPhases; PHASES while the server starts */
static long counts[PHASES + 1][KINDS];  /* by the phase an answer ended in */
static double lastRight;                /* when the latest right answer came */
static char firstError[PHASES + 1][64]; /* the text of each phase's first error */
static int reported;

static int validUtf8(const unsigned char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        size_t more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
        if (more == 9 || i + more >= n)
            return 0;
        for (; more > 0; --more)
            if ((p[++i] & 0xc0) != 0x80)
                return 0;
    }
    return 1;
}

/* ERROR when body is one well-formed error element, else WRONG. */
static int errorOrWrong(const char* body, size_t size) {
    static const char head[] = "<response>\n\n<error>", tail[] = "</error>\n\n</response>\n";
    const size_t h = sizeof head - 1, t = sizeof tail - 1;
    if (size < h + t || memcmp(body, head, h) != 0 || memcmp(body + size - t, tail, t) != 0)
        return WRONG;
    const char* text = body + h;
    const size_t n = size - h - t;
    if (n == 0 || memchr(text, '<', n) || memchr(text, '>', n) || memchr(text, '\0', n) ||
        !validUtf8((const unsigned char*)text, n))
        return WRONG;
    return ERROR;
}

/* Sends the request; returns the kind of its answer. */
static int exchange(char* answer, size_t* size) {
    const int complete = http_get(port, request, WAIT_SECONDS, answer, MAX_ANSWER, size);
    if (!complete)
        return LOST;
    const char* body = memmem(answer, *size, "\r\n\r\n", 4);
    if (*size < 12 || memcmp(answer + 8, " 200 ", 5) != 0 || !body)
        return WRONG;
    body += 4;
    const size_t bodySize = *size - (size_t)(body - answer);
    if (bodySize == rightSize && memcmp(body, right, rightSize) == 0)
        return RIGHT;
    return errorOrWrong(body, bodySize);
}

/* One line, control characters and other bytes outside ASCII as escapes,
 * written at once so that the threads' lines do not mix. */
static void report(const char* phaseName, const char* kind, const char* answer, size_t size) {
    char line[4096];
    int n = snprintf(line, sizeof line, "%s answer in the %s phase: ", kind, phaseName);
    for (size_t i = 0; i < size && n < (int)sizeof line - 8; ++i) {
        const unsigned char c = (unsigned char)answer[i];
        n += c >= 0x20 && c < 0x7f ? snprintf(line + n, sizeof line - (size_t)n, "%c", c)
                                   : snprintf(line + n, sizeof line - (size_t)n, "\\x%02x", c);
    }
    snprintf(line + n, sizeof line - (size_t)n, "\n");
    fputs(line, stderr);
}

static void* worker(void* unused) {
    (void)unused;
    static __thread char answer[MAX_ANSWER];
    while (bench_now() < deadline) {
        size_t size = 0;
        const int kind = exchange(answer, &size);
        const double end = bench_now();
        pthread_mutex_lock(&mutex);
        ++counts[phase][kind];
        const int show = (kind == WRONG || kind == LOST) && reported < MAX_REPORTED;
        reported += show;
        const char* phaseName = phase < PHASES ? kPhases[phase].name : "restart";
        if (kind == ERROR && !firstError[phase][0]) {
            const char* text = strstr(answer, "<error>") + 7;
            snprintf(firstError[phase], sizeof firstError[phase], "%.*s", (int)(strstr(text, "</error>") - text), text);
        }
        if (kind == RIGHT) {
            lastRight = end;
            pthread_cond_broadcast(&answered);
        }
        pthread_mutex_unlock(&mutex);
        if (show)
            report(phaseName, kKindNames[kind], answer, size);
    }
    return NULL;
}

/* Starts the server with the phase's options; its pid, or -1. Sets *ready
 * to when it printed its port. */
static pid_t startServer(char** command, int words, const struct phase* p, const char* log, double* ready) {
    char* argv[64];
    int n = 0;
    for (int i = 0; i < words && n < 60; ++i)
        argv[n++] = command[i];
    for (int i = 0; p->options[i]; ++i)
        argv[n++] = (char*)p->options[i];
    argv[n] = NULL;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (err < 0 || dup2(out[1], STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0)
            _exit(127);
        execv(argv[0], argv); /* a path: nothing but system calls after fork */
        _exit(127);
    }
    close(out[1]);
    /* The port, alone on the first line, once it serves. */
    char line[32] = "";
    size_t got = 0;
    struct pollfd wait = {out[0], POLLIN, 0};
    const double give_up = bench_now() + 10;
    while (pid > 0 && got < sizeof line - 1 && !memchr(line, '\n', got) && bench_now() < give_up &&
           poll(&wait, 1, 100) >= 0) {
        const ssize_t r = wait.revents ? read(out[0], line + got, sizeof line - 1 - got) : 0;
        if (wait.revents && r <= 0)
            break;
        got += r > 0 ? (size_t)r : 0;
    }
    close(out[0]);
    *ready = bench_now();
    if (pid > 0 && !memchr(line, '\n', got)) {
        kill(pid, SIGKILL);
        waitpid(pid, NULL, 0);
        return -1;
    }
    return pid;
}

int main(int argc, char** argv) {
    if (argc < 10) {
        fprintf(stderr, "usage: %s PORT PATH AUTH RIGHT_FILE SECONDS PHASE_MS STALL_MS SIM_LOG SIM_COMMAND...\n",
                argv[0]);
        return 2;
    }
    port = atoi(argv[1]);
    const double seconds = atof(argv[5]);
    const int phaseMs = atoi(argv[6]);
    snprintf(stallMs, sizeof stallMs, "%d", atoi(argv[7]));
    if (port <= 0 || seconds <= 0 || seconds > 3600 || phaseMs < 1000 || phaseMs > 60000 || atoi(argv[7]) <= 0)
        return 2;
    bench_get_request(request, sizeof request, argv[2], argv[3]);
    FILE* file = fopen(argv[4], "rb");
    right = malloc(MAX_ANSWER);
    if (!file || !right)
        return 2;
    rightSize = fread(right, 1, MAX_ANSWER, file);
    fclose(file);
    if (rightSize == 0 || rightSize == MAX_ANSWER)
        return 2;

    deadline = bench_now() + seconds;
    pthread_t threads[THREADS];
    int workers = 0, late = 0, failedStarts = 0, healthyStarts = 0;
    double slowest = 0;
    for (int next = 0; bench_now() < deadline; next = (next + 1) % PHASES) {
        const struct phase* p = &kPhases[next];
        pthread_mutex_lock(&mutex);
        phase = PHASES;
        pthread_mutex_unlock(&mutex);
        double ready = bench_now();
        pid_t server = -1;
        if (!p->down && (server = startServer(argv + 9, argc - 9, p, argv[8], &ready)) < 0) {
            fprintf(stderr, "the server did not start for the %s phase\n", p->name);
            ++failedStarts;
            break;
        }
        pthread_mutex_lock(&mutex);
        phase = next;
        pthread_mutex_unlock(&mutex);
        for (; workers < THREADS; ++workers)
            if (pthread_create(&threads[workers], NULL, worker, NULL) != 0)
                return 1;
        const double end = ready + phaseMs / 1000.0 < deadline ? ready + phaseMs / 1000.0 : deadline;
        if (!p->down && !p->options[0] && ready + RECOVERY_LIMIT < deadline) {
            /* How long until the first right answer after the start. */
            ++healthyStarts;
            pthread_mutex_lock(&mutex);
            while (lastRight < ready && bench_now() < end) {
                struct timespec until;
                clock_gettime(CLOCK_REALTIME, &until);
                until.tv_nsec += 50 * 1000 * 1000;
                until.tv_sec += until.tv_nsec / 1000000000;
                until.tv_nsec %= 1000000000;
                pthread_cond_timedwait(&answered, &mutex, &until);
            }
            const double recovery = (lastRight >= ready ? lastRight : bench_now()) - ready;
            pthread_mutex_unlock(&mutex);
            if (recovery > slowest)
                slowest = recovery;
            if (recovery > RECOVERY_LIMIT) {
                ++late;
                fprintf(stderr, "no right answer until %.2f s after the server was healthy again\n", recovery);
            }
        }
        while (bench_now() < end)
            poll(NULL, 0, (int)((end - bench_now()) * 1000) + 1);
        if (server > 0) {
            kill(server, SIGKILL);
            waitpid(server, NULL, 0);
        }
    }
    for (int i = 0; i < workers; ++i)
        pthread_join(threads[i], NULL);

    long total[KINDS] = {0};
    printf("%-8s %8s %8s %8s %8s  %s\n", "phase", kKindNames[RIGHT], kKindNames[ERROR], kKindNames[WRONG],
           kKindNames[LOST], "first error");
    for (int i = 0; i < PHASES; ++i) {
        int first = 1; /* each kind of phase once, its counts summed */
        for (int j = 0; j < i; ++j)
            first &= strcmp(kPhases[j].name, kPhases[i].name) != 0;
        if (!first)
            continue;
        long sum[KINDS] = {0};
        for (int j = i; j < PHASES; ++j)
            if (strcmp(kPhases[j].name, kPhases[i].name) == 0)
                for (int k = 0; k < KINDS; ++k)
                    sum[k] += counts[j][k];
        printf("%-8s %8ld %8ld %8ld %8ld  %s\n", kPhases[i].name, sum[RIGHT], sum[ERROR], sum[WRONG], sum[LOST],
               firstError[i]);
        for (int k = 0; k < KINDS; ++k)
            total[k] += sum[k];
    }
    printf("%-8s %8ld %8ld %8ld %8ld  %s\n", "restart", counts[PHASES][RIGHT], counts[PHASES][ERROR],
           counts[PHASES][WRONG], counts[PHASES][LOST], firstError[PHASES]);
    for (int k = 0; k < KINDS; ++k)
        total[k] += counts[PHASES][k];
    printf("%d healthy starts, slowest first right answer %.3f s after the start (limit %.1f s)\n", healthyStarts,
           slowest, RECOVERY_LIMIT);
    const int violated = total[WRONG] > 0 || total[LOST] > 0 || late > 0 || failedStarts > 0 || total[RIGHT] == 0;
    if (violated)
        printf("FAILED: %ld wrong, %ld lost, %d late recoveries, %d servers that did not start\n", total[WRONG],
               total[LOST], late, failedStarts);
    return violated ? 1 : 0;
}
