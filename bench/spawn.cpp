// Runs one program for the benchmark and reports what it cost:
//
// kelmem-spawn OUTPUT DIR PROGRAM [ARG...]
//
// runs PROGRAM in DIR with its standard output into the file OUTPUT (and its
// standard error discarded), waits for it, and prints "SECONDS PEAK_KIB
// STATUS CPU_SECONDS". The peak is the child's ru_maxrss; CPU_SECONDS its
// user and system time, which other programs on a busy machine disturb far
// less than the elapsed time. A forked child inherits its
// parent's resident-set high-water mark through exec, so the child is forked
// from this small program rather than from the driver, whose own size would
// otherwise be reported for every program it runs.

#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: kelmem-spawn OUTPUT DIR PROGRAM [ARG...]\n");
        return 2;
    }
    timespec start = {};
    timespec end = {};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = open("/dev/null", O_WRONLY);
        if (out < 0 || null < 0 || dup2(out, 1) < 0 || dup2(null, 2) < 0 || chdir(argv[2]) != 0)
            _exit(127);
        execv(argv[3], argv + 3);
        _exit(127);
    }
    if (pid < 0)
        return 2;
    int status = 0;
    rusage usage = {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return 2;
    clock_gettime(CLOCK_MONOTONIC, &end);
    double seconds = static_cast<double>(end.tv_sec - start.tv_sec) +
                     static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("%.6f %ld %d %.6f\n", seconds, usage.ru_maxrss, code, cpu);
    return 0;
}
