/* memwatch: an LD_PRELOAD shim for soak investigations, not part of the engine.
 *
 * Every MEMWATCH_SECONDS (default 10) a thread of its own appends to MEMWATCH_OUT one line:
 * seconds since start, the allocator's view of the process (bytes the arenas hold from the
 * system, bytes in use by the program, bytes free inside the arenas, mmapped chunks, arena
 * count), the resident set, and with MEMWATCH_TRIM=1 the resident set again after
 * malloc_trim(0), which shows how much of the growth is free memory the allocator keeps.
 * With MEMWATCH_INFO=1 it also appends malloc_info(3)'s XML to MEMWATCH_OUT.xml. Between
 * lines it polls the bytes in use every MEMWATCH_POLL_MS (default 20) and reports their
 * lowest and highest value over the interval: the program's floor and its transient peak,
 * which a line's single sample cannot show.
 *
 * Build: gcc -O2 -shared -fPIC -o memwatch.so memwatch.c -lpthread
 * Use:   MEMWATCH_OUT=mem.txt LD_PRELOAD=./memwatch.so engine
 */
#define _GNU_SOURCE
#include <malloc.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static long ResidentKb(void) {
    FILE* f = fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (!f) return -1;
    if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
    fclose(f);
    return resident < 0 ? -1 : resident * (sysconf(_SC_PAGESIZE) / 1024);
}

static int CountArenas(void) {
    /* malloc_info lists one <heap nr=...> per arena. */
    char* text = NULL;
    size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    int n = 0;
    if (!f) return -1;
    malloc_info(0, f);
    fclose(f);
    for (const char* p = text; (p = strstr(p, "<heap nr=")) != NULL; ++p) ++n;
    free(text);
    return n;
}

static void* Watch(void* arg) {
    (void)arg;
    const char* out = getenv("MEMWATCH_OUT");
    const char* s = getenv("MEMWATCH_SECONDS");
    int period = s && atoi(s) > 0 ? atoi(s) : 10;
    int trim = getenv("MEMWATCH_TRIM") && strcmp(getenv("MEMWATCH_TRIM"), "1") == 0;
    int info = getenv("MEMWATCH_INFO") && strcmp(getenv("MEMWATCH_INFO"), "1") == 0;
    const char* poll = getenv("MEMWATCH_POLL_MS");
    long pollMs = poll && atol(poll) > 0 ? atol(poll) : 20;
    char xmlPath[4096];
    snprintf(xmlPath, sizeof xmlPath, "%s.xml", out);
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        size_t low = (size_t)-1, high = 0;
        struct timespec step = {pollMs / 1000, (pollMs % 1000) * 1000000L};
        for (long waited = 0; waited < period * 1000L; waited += pollMs) {
            nanosleep(&step, NULL);
            size_t inuse = mallinfo2().uordblks;
            if (inuse < low) low = inuse;
            if (inuse > high) high = inuse;
        }
        clock_gettime(CLOCK_MONOTONIC, &now);
        struct mallinfo2 mi = mallinfo2();
        long rss = ResidentKb();
        long trimmed = -1;
        if (trim) {
            malloc_trim(0);
            trimmed = ResidentKb();
        }
        FILE* f = fopen(out, "a");
        if (!f) return NULL;
        fprintf(f,
                "%ld arena_kb=%zu inuse_kb=%zu inuse_low_kb=%zu inuse_high_kb=%zu free_kb=%zu mmap_kb=%zu arenas=%d "
                "rss_kb=%ld rss_after_trim_kb=%ld\n",
                (long)(now.tv_sec - start.tv_sec), mi.arena / 1024, mi.uordblks / 1024, low / 1024, high / 1024,
                mi.fordblks / 1024, mi.hblkhd / 1024, CountArenas(), rss, trimmed);
        fclose(f);
        if (info) {
            FILE* x = fopen(xmlPath, "a");
            if (x) {
                fprintf(x, "<!-- t=%ld -->\n", (long)(now.tv_sec - start.tv_sec));
                malloc_info(0, x);
                fclose(x);
            }
        }
    }
    return NULL;
}

__attribute__((constructor)) static void StartWatch(void) {
    if (!getenv("MEMWATCH_OUT")) return;
    pthread_t thread;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_create(&thread, &attr, Watch, NULL);
    pthread_attr_destroy(&attr);
}
