// Kept apart from the rest of the port: <asm/termbits.h> cannot share a translation
// unit with <termios.h>.
#include "link/custom_baud.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace tunavox {

int SetCustomBaud(int fd, uint32_t baud) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    t.c_cflag &= ~CBAUD;
    t.c_cflag |= BOTHER;
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &t) != 0) return errno;
    return 0;
}

} // namespace tunavox
