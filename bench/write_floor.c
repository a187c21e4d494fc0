/*
 * write_floor: the least work any run of dedupe must do on an input, timed
 * beside it. It reads infile.euc from the current folder in large blocks and
 * hands each non-blank line, with CR LF, to the system in one write call of
 * its own (as dedupe must, so that each line is flushed on its own) to
 * floor.euc. It keeps no set and sorts nothing.
 *
 * A line is blank when it holds only space, tab, CR, VT, FF and the
 * full-width space 0x81 0x40: the benchmark corpus has no other blank forms,
 * so this writes exactly the lines dedupe writes.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { BLOCK_SIZE = 1 << 20, LINE_MAX_BYTES = 64 * 1024 };

static char block[BLOCK_SIZE];
static char line_out[LINE_MAX_BYTES + 2];

static void die(const char *what) {
	fprintf(stderr, "write_floor: %s: %s\n", what, strerror(errno));
	exit(1);
}

static int is_blank(const unsigned char *p, size_t n) {
	size_t i = 0;
	while (i < n) {
		if (p[i] == ' ' || p[i] == '\t' || p[i] == '\r' || p[i] == '\v' ||
		    p[i] == '\f')
			i += 1;
		else if (p[i] == 0x81 && i + 1 < n && p[i + 1] == 0x40)
			i += 2;
		else
			return 0;
	}
	return 1;
}

static void write_line(int fd, const char *line, size_t n) {
	if (n > 0 && line[n - 1] == '\r')
		n--;
	if (is_blank((const unsigned char *)line, n))
		return;
	if (n > LINE_MAX_BYTES) {
		errno = EFBIG;
		die("infile.euc");
	}
	memcpy(line_out, line, n);
	line_out[n] = '\r';
	line_out[n + 1] = '\n';
	if (write(fd, line_out, n + 2) != (ssize_t)(n + 2))
		die("floor.euc");
}

int main(void) {
	int in = open("infile.euc", O_RDONLY);
	if (in < 0)
		die("infile.euc");
	int out = open("floor.euc", O_WRONLY | O_CREAT | O_TRUNC, 0666);
	if (out < 0)
		die("floor.euc");

	size_t kept = 0; /* bytes of an unfinished line at the block's start */
	for (;;) {
		ssize_t got = read(in, block + kept, BLOCK_SIZE - kept);
		if (got < 0)
			die("infile.euc");
		size_t filled = kept + (size_t)got;
		if (got == 0) {
			if (kept > 0)
				write_line(out, block, kept);
			break;
		}
		char *start = block;
		char *end = block + filled;
		char *lf;
		while ((lf = memchr(start, '\n', end - start)) != NULL) {
			write_line(out, start, lf - start);
			start = lf + 1;
		}
		kept = end - start;
		if (kept == BLOCK_SIZE) {
			errno = EFBIG;
			die("infile.euc");
		}
		memmove(block, start, kept);
	}
	if (close(out) != 0)
		die("floor.euc");
	return 0;
}
