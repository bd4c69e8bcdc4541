/* measure: runs one command and prints what it cost.
 *
 *   measure [-t SECONDS] [-l LOGFILE] -- COMMAND [ARG...]
 *
 * Prints one line on stdout: "WALL_S CPU_S PEAK_KB STATUS", where CPU is user
 * plus system time of the command and everything it waited for, PEAK_KB is
 * the largest resident set (ru_maxrss from wait4) and STATUS is the exit code,
 * "signal-N" or "timeout". The command's stdout and stderr go to LOGFILE
 * (default /dev/null), so nothing it prints can be mistaken for the figures.
 * The command runs in its own process group so a timeout stops all of it.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static volatile sig_atomic_t timedOut = 0;
static pid_t child = -1;

static void onAlarm(int signo) {
    (void)signo;
    timedOut = 1;
    if (child > 0)
        kill(-child, SIGKILL);
}

static double seconds(struct timeval tv) {
    return (double)tv.tv_sec + (double)tv.tv_usec / 1e6;
}

static double now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static int usage(void) {
    fprintf(stderr, "usage: measure [-t SECONDS] [-l LOGFILE] -- COMMAND [ARG...]\n");
    return 2;
}

int main(int argc, char** argv) {
    unsigned timeoutSeconds = 0;
    const char* logPath = "/dev/null";
    int opt;
    while ((opt = getopt(argc, argv, "+t:l:")) != -1) {
        switch (opt) {
            case 't':
                timeoutSeconds = (unsigned)strtoul(optarg, NULL, 10);
                break;
            case 'l':
                logPath = optarg;
                break;
            default:
                return usage();
        }
    }
    if (optind >= argc)
        return usage();

    const int logFd = open(logPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (logFd < 0) {
        fprintf(stderr, "measure: cannot open %s: %s\n", logPath, strerror(errno));
        return 2;
    }

    const double start = now();
    child = fork();
    if (child < 0) {
        fprintf(stderr, "measure: fork: %s\n", strerror(errno));
        return 2;
    }
    if (child == 0) {
        setpgid(0, 0);
        dup2(logFd, STDOUT_FILENO);
        dup2(logFd, STDERR_FILENO);
        execvp(argv[optind], argv + optind);
        fprintf(stderr, "measure: cannot run %s: %s\n", argv[optind], strerror(errno));
        _exit(127);
    }
    setpgid(child, child);
    close(logFd);

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = onAlarm;
    sigaction(SIGALRM, &action, NULL);
    if (timeoutSeconds > 0)
        alarm(timeoutSeconds);

    int status = 0;
    struct rusage usage;
    pid_t done;
    do {
        done = wait4(child, &status, 0, &usage);
    } while (done < 0 && errno == EINTR);
    const double wall = now() - start;
    alarm(0);
    if (done < 0) {
        fprintf(stderr, "measure: wait4: %s\n", strerror(errno));
        return 2;
    }

    char outcome[32];
    if (timedOut) {
        snprintf(outcome, sizeof outcome, "timeout");
    } else if (WIFEXITED(status)) {
        snprintf(outcome, sizeof outcome, "%d", WEXITSTATUS(status));
    } else {
        snprintf(outcome, sizeof outcome, "signal-%d", WTERMSIG(status));
    }
    printf("%.4f %.4f %ld %s\n", wall, seconds(usage.ru_utime) + seconds(usage.ru_stime),
           usage.ru_maxrss, outcome);
    return 0;
}
