/* The floor of the CGI benchmark: a statically linked C program that answers
   every request with the same 2 KB page, doing nothing else. Nothing a CGI
   program does can cost less than this start, one write and exit. */
#include <string.h>
#include <unistd.h>

enum { BODY_SIZE = 2048 };

int main(void)
{
    static const char head[] = "Content-Type: text/html\r\nContent-Length: 2048\r\n\r\n";
    static const char page_open[] = "<html><head><title>floor</title></head><body><p>";
    static const char page_close[] = "</p></body></html>\r\n";
    static char response[sizeof head - 1 + BODY_SIZE];

    char *body = response + sizeof head - 1;
    memcpy(response, head, sizeof head - 1);
    memset(body, 'x', BODY_SIZE);
    memcpy(body, page_open, sizeof page_open - 1);
    memcpy(body + BODY_SIZE - (sizeof page_close - 1), page_close, sizeof page_close - 1);

    size_t done = 0;
    while (done < sizeof response) {
        ssize_t n = write(1, response + done, sizeof response - done);
        if (n <= 0)
            return 1;
        done += (size_t)n;
    }
    return 0;
}
