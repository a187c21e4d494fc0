/*
 * run_timed: runs a command and writes "WALL USER SYS MAXRSS" (seconds and
 * KiB, as /usr/bin/time -f "%e %U %S %M" does) to FILE. bench/run.sh uses it
 * where /usr/bin/time is missing.
 *
 *   run_timed -o FILE COMMAND [ARG...]
 */
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double seconds(struct timeval tv) {
	return tv.tv_sec + tv.tv_usec / 1e6;
}

int main(int argc, char **argv) {
	if (argc < 4 || strcmp(argv[1], "-o") != 0) {
		fputs("usage: run_timed -o FILE COMMAND [ARG...]\n", stderr);
		return 2;
	}
	FILE *report = fopen(argv[2], "w");
	if (report == NULL) {
		fprintf(stderr, "run_timed: %s: %s\n", argv[2], strerror(errno));
		return 2;
	}

	struct timespec start, end;
	clock_gettime(CLOCK_MONOTONIC, &start);
	pid_t child = fork();
	if (child < 0) {
		perror("run_timed: fork");
		return 2;
	}
	if (child == 0) {
		execvp(argv[3], argv + 3);
		fprintf(stderr, "run_timed: %s: %s\n", argv[3], strerror(errno));
		_exit(127);
	}
	int status;
	struct rusage usage;
	while (wait4(child, &status, 0, &usage) < 0) {
		if (errno != EINTR) {
			perror("run_timed: wait4");
			return 2;
		}
	}
	clock_gettime(CLOCK_MONOTONIC, &end);

	double wall = (end.tv_sec - start.tv_sec) +
	    (end.tv_nsec - start.tv_nsec) / 1e9;
	fprintf(report, "%.3f %.3f %.3f %ld\n", wall, seconds(usage.ru_utime),
	    seconds(usage.ru_stime), usage.ru_maxrss);
	if (fclose(report) != 0) {
		perror("run_timed: report");
		return 2;
	}
	/* The command's own status, so that a failing run is not taken for
	 * a measurement. */
	if (WIFEXITED(status))
		return WEXITSTATUS(status);
	return 128 + WTERMSIG(status);
}
