/* The floor of the in-process benchmark: a FastCGI responder on libfcgi
   that answers every request with the header block of an empty page and
   does nothing else, on the same number of threads as isapi-fcgi and on the
   socket the web server passes as standard input. Nothing served in-process
   behind FastCGI can cost less.

     fcgi_floor [threads]   (4 when not given, at most 64) */
#include <fcgiapp.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>

enum { MAX_THREADS = 64 };

static pthread_mutex_t accept_lock = PTHREAD_MUTEX_INITIALIZER;

static void *serve(void *unused)
{
    static const char head[] = "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 0\r\n\r\n";
    FCGX_Request request;
    (void)unused;
    if (FCGX_InitRequest(&request, 0, 0) != 0)
        return NULL;
    for (;;) {
        int accepted;
        pthread_mutex_lock(&accept_lock);
        accepted = FCGX_Accept_r(&request);
        pthread_mutex_unlock(&accept_lock);
        if (accepted < 0)
            exit(1);
        FCGX_PutStr(head, (int)sizeof head - 1, request.out);
        FCGX_Finish_r(&request);
    }
    return NULL;
}

int main(int argc, char **argv)
{
    pthread_t threads[MAX_THREADS];
    int count = argc > 1 ? atoi(argv[1]) : 4;
    int i;
    if (count < 1 || count > MAX_THREADS)
        return 2;
    sigset_t stop;
    int signal_number;
    if (FCGX_Init() != 0)
        return 1;
    /* The web server stops its backends with SIGTERM: taken here, on the
       main thread, where it ends the process at once. */
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, NULL);
    for (i = 0; i < count; i++)
        if (pthread_create(&threads[i], NULL, serve, NULL) != 0)
            return 1;
    sigwait(&stop, &signal_number);
    return 0;
}
