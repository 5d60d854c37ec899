/* Runs a command RUNS times with posix_spawn, standard output to /dev/null,
 * and prints the median wall time of one run in microseconds. Spawning
 * directly keeps a shell's own cost out of the figure. */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static int cmp(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s RUNS PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const int runs = atoi(argv[1]);
    if (runs <= 0 || runs > 100000)
        return 2;
    double* times = malloc(sizeof(double) * (size_t)runs);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    for (int i = 0; i < runs; ++i) {
        struct timespec t0, t1;
        clock_gettime(CLOCK_MONOTONIC, &t0);
        pid_t pid;
        if (posix_spawn(&pid, argv[2], &actions, NULL, argv + 2, environ) != 0) {
            perror("posix_spawn");
            return 1;
        }
        int status;
        waitpid(pid, &status, 0);
        clock_gettime(CLOCK_MONOTONIC, &t1);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fprintf(stderr, "%s failed\n", argv[2]);
            return 1;
        }
        times[i] = (double)(t1.tv_sec - t0.tv_sec) * 1e6 + (double)(t1.tv_nsec - t0.tv_nsec) / 1e3;
    }
    qsort(times, (size_t)runs, sizeof(double), cmp);
    printf("%.1f\n", times[runs / 2]);
    free(times);
    return 0;
}
