#include "index/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "index/file_error.h"

namespace korva {
namespace {

struct Split {
  std::string folder;  // "." for a bare name
  std::string name;
};

Split splitPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

// A temporary file of a writer that was killed midway carries the dead process's id; the next
// write removes it so that such leftovers do not pile up. A live writer's file stays.
void removeStaleTemporaryFiles(const std::string& path) {
  const Split where = splitPath(path);
  DIR* dir = ::opendir(where.folder.c_str());
  if (!dir) return;
  const std::string prefix = where.name + ".";
  const std::string suffix = ".tmp";
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() <= prefix.size() + suffix.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    const std::string pidText =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (pidText.empty() || pidText.size() > 9 ||
        pidText.find_first_not_of("0123456789") != std::string::npos)
      continue;
    const long pid = std::strtol(pidText.c_str(), nullptr, 10);
    if (pid == ::getpid() || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
      ::unlink(joinPath(where.folder, name).c_str());
  }
  ::closedir(dir);
}

AtomicFileWriter::AtomicFileWriter(const std::string& path)
    : path_(path), temp_(path + "." + std::to_string(::getpid()) + ".tmp") {
  fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) error_ = errno;
}

AtomicFileWriter::~AtomicFileWriter() { discard(); }

void AtomicFileWriter::discard() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  ::unlink(temp_.c_str());
}

bool AtomicFileWriter::write(const char* data, std::size_t size) {
  if (error_ != 0) return false;
  if (!writeAll(fd_, data, size)) {
    error_ = errno;
    discard();
    return false;
  }
  ::sync_file_range(fd_, static_cast<off_t>(written_), static_cast<off_t>(size),
                    SYNC_FILE_RANGE_WRITE);
  written_ += static_cast<std::int64_t>(size);
  return true;
}

int AtomicFileWriter::commit() {
  if (error_ == 0 && ::fsync(fd_) != 0) error_ = errno;
  if (error_ != 0) {
    discard();
    return error_;
  }
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0)
    error_ = errno;
  else if (std::rename(temp_.c_str(), path_.c_str()) != 0)
    error_ = errno;
  if (error_ != 0) {
    ::unlink(temp_.c_str());
    return error_;
  }
  const int folder = ::open(splitPath(path_).folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return 0;
}

int replaceFileAtomically(const std::string& path,
                          const std::function<bool(const ByteSink&)>& produce) {
  removeStaleTemporaryFiles(path);
  AtomicFileWriter writer(path);
  if (writer.error() != 0) return writer.error();
  if (!produce([&](const char* data, std::size_t size) { return writer.write(data, size); }))
    return writer.error() != 0 ? writer.error() : EIO;
  return writer.commit();
}

void writeFileAtomically(const std::string& path, std::string_view bytes) {
  constexpr std::size_t kPiece = std::size_t{2} << 20;
  const int error = replaceFileAtomically(path, [&](const ByteSink& sink) {
    for (std::size_t at = 0; at < bytes.size(); at += kPiece)
      if (!sink(bytes.data() + at, std::min(kPiece, bytes.size() - at))) return false;
    return true;
  });
  if (error != 0) throw FileError(error, path);
}

}  // namespace korva
