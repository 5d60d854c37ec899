/* Runs one or more commands RUNS times each with posix_spawn, standard
 * output to /dev/null, and prints the median wall time of one run of each,
 * in microseconds, one line per command. Several commands, separated by
 * "--", take turns run by run, so that a slow spell of the machine falls on
 * all of them alike. Spawning directly keeps a shell's own cost out.
 * Usage: spawn_timer RUNS PROGRAM [ARGS...] [-- PROGRAM [ARGS...]]... */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "bench_util.h"

#define MAX_COMMANDS 8

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s RUNS PROGRAM [ARGS...] [-- PROGRAM [ARGS...]]...\n", argv[0]);
        return 2;
    }
    const int runs = atoi(argv[1]);
    if (runs <= 0 || runs > 100000)
        return 2;
    char** commands[MAX_COMMANDS];
    int count = 0;
    commands[count++] = argv + 2;
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--") != 0)
            continue;
        if (count == MAX_COMMANDS || i + 1 == argc) {
            fprintf(stderr, "%s: at most %d commands, none empty\n", argv[0], MAX_COMMANDS);
            return 2;
        }
        argv[i] = NULL;
        commands[count++] = argv + i + 1;
    }
    double* times = malloc(sizeof(double) * (size_t)runs * (size_t)count);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    for (int i = 0; i < runs; ++i) {
        for (int c = 0; c < count; ++c) {
            struct timespec t0, t1;
            clock_gettime(CLOCK_MONOTONIC, &t0);
            pid_t pid;
            if (posix_spawn(&pid, commands[c][0], &actions, NULL, commands[c], environ) != 0) {
                perror("posix_spawn");
                return 1;
            }
            int status;
            waitpid(pid, &status, 0);
            clock_gettime(CLOCK_MONOTONIC, &t1);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                fprintf(stderr, "%s failed\n", commands[c][0]);
                return 1;
            }
            times[c * runs + i] = (double)(t1.tv_sec - t0.tv_sec) * 1e6 + (double)(t1.tv_nsec - t0.tv_nsec) / 1e3;
        }
    }
    for (int c = 0; c < count; ++c) {
        qsort(times + c * runs, (size_t)runs, sizeof(double), bench_by_value);
        printf("%.1f\n", times[c * runs + runs / 2]);
    }
    free(times);
    return 0;
}
