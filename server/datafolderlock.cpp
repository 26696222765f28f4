#include "datafolderlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace unplot::server {

DataFolderLock::DataFolderLock(const std::filesystem::path& dataDir)
{
    std::filesystem::create_directories(dataDir);
    const std::filesystem::path file = dataDir / "unplotd.lock";
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
        throw std::runtime_error("cannot open " + file.string() + ": " + std::strerror(errno));
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        ::close(fd_);
        throw std::runtime_error(error == EWOULDBLOCK
                                     ? "another unplotd is using the data folder " + dataDir.string()
                                     : "cannot lock " + file.string() + ": " + std::strerror(error));
    }
}

DataFolderLock::~DataFolderLock()
{
    ::close(fd_);  // releases the lock
}

}  // namespace unplot::server
