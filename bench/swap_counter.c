/* LD_PRELOAD shim that counts presented frames (glXSwapBuffers) of any
 * program, so the player and the floor loop are measured the same way and
 * neither carries measuring code. Writes "seconds frames" lines to the file
 * named by QUORVEL_SWAP_LOG, one a second, counted from the first frame, and
 * the wall-clock time (seconds since the epoch) at which the first frame was
 * presented to the file named by QUORVEL_FIRST_FRAME_LOG. */
#define _GNU_SOURCE
#include <GL/glx.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static void noteFirstFrame(void)
{
    const char* path = getenv("QUORVEL_FIRST_FRAME_LOG");
    FILE* file = path ? fopen(path, "w") : NULL;
    if (!file)
        return;
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    fprintf(file, "%ld.%09ld\n", (long)t.tv_sec, t.tv_nsec);
    fclose(file);
}

void glXSwapBuffers(Display* display, GLXDrawable drawable)
{
    static void (*real)(Display*, GLXDrawable);
    static FILE* log;
    static double start, lastWrite;
    static unsigned long frames;
    if (!real)
    {
        real = (void (*)(Display*, GLXDrawable))dlsym(RTLD_NEXT, "glXSwapBuffers");
        const char* path = getenv("QUORVEL_SWAP_LOG");
        log = path ? fopen(path, "w") : NULL;
        start = lastWrite = now();
    }
    real(display, drawable);
    if (++frames == 1)
        noteFirstFrame();
    const double t = now();
    if (log && t - lastWrite >= 1.0)
    {
        fprintf(log, "%.3f %lu\n", t - start, frames);
        fflush(log);
        lastWrite = t;
    }
}
