#include "index/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "index/file_error.h"

namespace korva {

void writeFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string temp = path + "." + std::to_string(::getpid()) + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw FileError(errno, path);
  auto fail = [&](int error) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    throw FileError(error, path);
  };
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) fail(errno);
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0) fail(errno);
  if (std::rename(temp.c_str(), path.c_str()) != 0) fail(errno);
}

}  // namespace korva
