/* LD_PRELOAD shim for running serial code under Wine against a pty.
 *
 * A pty has no modem lines, so TIOCMGET fails on it, and Wine then ends every
 * serial event wait at once. This library answers TIOCMGET on a tty that
 * refuses it as a connected null-modem cable would (CTS, DSR, CD, DTR, RTS
 * on); every other ioctl goes straight to the C library.
 *
 * Built by the native build only. Tests find it at
 *   $TCC_NATIVE_BUILD/tests/wine/libtiocmget_shim.so
 * and run wine with LD_PRELOAD set to that path.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* glibc declares ioctl(int, unsigned long, ...); every request we see takes
 * at most one argument, a pointer or an integer, passed on as a pointer. */
int ioctl(int fd, unsigned long request, ...)
{
    static ioctl_fn real_ioctl;
    va_list ap;
    void* arg;

    va_start(ap, request);
    arg = va_arg(ap, void*);
    va_end(ap);
    if (!real_ioctl)
        real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    if (!real_ioctl) {
        errno = ENOSYS;
        return -1;
    }

    int rc = real_ioctl(fd, request, arg);
    if (rc < 0 && request == TIOCMGET && arg) {
        const int err = errno;
        if ((err == ENOTTY || err == EINVAL) && isatty(fd)) {
            *(int*)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_DTR | TIOCM_RTS;
            return 0;
        }
        errno = err;
    }
    return rc;
}
