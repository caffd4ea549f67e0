/* velmora-batch as the terminal starts it: holds back Ctrl-C and SIGTERM,
 * then becomes the program proper. Loading that program's many libraries
 * takes tens of milliseconds before any of its own code runs; a signal
 * meanwhile stays pending (the mask and pending signals survive exec) and
 * stops the run like one that comes later, instead of ending the program
 * unannounced. This one needs only the C library and starts at once. */
#define _GNU_SOURCE
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#ifndef VELMORA_RUN_DIR
#define VELMORA_RUN_DIR "."
#endif

int main(int argc, char **argv)
{
    (void)argc;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_BLOCK, &set, NULL);

    /* Installed, the program proper lies at VELMORA_RUN_DIR from this one's
     * folder; in the build tree it lies beside it. */
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        fprintf(stderr, "velmora-batch: cannot tell where the program lies: %s\n", strerror(errno));
        return 127;
    }
    self[n] = '\0';
    char *slash = strrchr(self, '/');
    if (slash)
        *slash = '\0';
    char path[PATH_MAX + 64];
    const char *const folders[] = {VELMORA_RUN_DIR, "."};
    for (size_t i = 0; i < sizeof folders / sizeof folders[0]; ++i) {
        snprintf(path, sizeof path, "%s/%s/velmora-batch-run", self, folders[i]);
        if (access(path, X_OK) == 0)
            break;
    }
    execv(path, argv);
    fprintf(stderr, "velmora-batch: cannot start %s: %s\n", path, strerror(errno));
    return 127;
}
