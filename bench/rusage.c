/* rusage COMMAND...: runs COMMAND with its standard output and error sent
 * to /dev/null and prints "CPU_SECONDS PEAK_KB EXIT_STATUS" of that process
 * alone: user plus system seconds to the microsecond and the peak resident
 * size from wait4.  The benchmark scripts measure through this small
 * program because a process forked from a large one (python3 takes about
 * 13 MB) starts its life with the parent's resident size, which hides the
 * peaks of small steps. */
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: rusage COMMAND...\n");
        return 2;
    }
    pid_t pid = fork();
    if (pid < 0) return 2;
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 1);
            dup2(null, 2);
        }
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    struct rusage r;
    if (wait4(pid, &status, 0, &r) < 0) return 2;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    printf("%.6f %ld %d\n", r.ru_utime.tv_sec + r.ru_stime.tv_sec + 1e-6 * (r.ru_utime.tv_usec + r.ru_stime.tv_usec),
           r.ru_maxrss, code);
    return 0;
}
