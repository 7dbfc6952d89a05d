// halvic_measure: runs a command and prints its wall time in seconds, its peak memory (max RSS) in
// KiB and its processor time (user and system) in seconds, "halvic_measure COMMAND [ARGUMENTS...]".
// The command's own output is discarded.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: halvic_measure COMMAND [ARGUMENTS...]\n");
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) < 0) {
        std::perror("wait4");
        return 1;
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "halvic_measure: %s failed\n", argv[1]);
        return 1;
    }
    auto Seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    std::printf("%.6f %ld %.6f\n", seconds, usage.ru_maxrss,
                Seconds(usage.ru_utime) + Seconds(usage.ru_stime));
    return 0;
}
