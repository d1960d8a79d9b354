/* Preloaded into the client by soak.sh (LD_PRELOAD): every connect() to an
 * IPv4 address is written to the file named by ORIX_CONNECT_TRACE as one line
 * "<wall clock in ms> <port> <result> <errno>" before the call returns. A
 * connection that the server's machine refuses never reaches the relay, so
 * this is how the benchmark sees the logon attempts of an outage in which
 * the server's port is closed. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

typedef int (*connect_fn)(int, const struct sockaddr*, socklen_t);

int connect(int fd, const struct sockaddr* address, socklen_t length)
{
    static connect_fn real;
    if (!real)
        real = (connect_fn)dlsym(RTLD_NEXT, "connect");
    const int result = real(fd, address, length);
    const int error = errno;
    const char* path = getenv("ORIX_CONNECT_TRACE");
    if (path && address && address->sa_family == AF_INET && length >= sizeof(struct sockaddr_in)) {
        const struct sockaddr_in* in = (const struct sockaddr_in*)address;
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        char line[96];
        const int size = snprintf(line, sizeof line, "%lld %u %d %d\n",
                                  (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000,
                                  (unsigned)ntohs(in->sin_port), result, result == 0 ? 0 : error);
        const int out = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (out >= 0) {
            if (write(out, line, (size_t)size) < 0) {
                /* a lost line only makes the count smaller */
            }
            close(out);
        }
    }
    errno = error;
    return result;
}
