#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "cli/main.h"

namespace {

// A standard descriptor the caller left closed is opened on /dev/null, in the direction that
// fails: no file opened later takes its number (and its writes), and a write to a closed standard
// output still fails with "Bad file descriptor".
void GuardStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    GuardStandardDescriptors();
    return halvic::cli::Main(argc, argv, halvic::cli::ECommandLine::kPosix);
}
