// Small helpers shared by the test folders: a temporary folder per test and file writing.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace korva::testing {

inline void removeTree(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    ::chmod(path.c_str(), 0700);
    if (DIR* dir = ::opendir(path.c_str())) {
      while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") removeTree(path + "/" + name);
      }
      ::closedir(dir);
    }
    ::rmdir(path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}

// A fresh folder under TMPDIR, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/korva-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() { removeTree(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  void append(const std::string& name, const std::string& bytes) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::app);
    out << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool exists(const std::string& name) const {
    struct stat st;
    return ::stat(file(name).c_str(), &st) == 0;
  }

 private:
  std::string path_;
};

// A 24-character key from a number, unique per number.
inline std::string makeKey(int n) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "20261209-REQ-%011d", n);
  return buffer;
}

inline const std::string kDividerLine(47, '-');

// One response block as the recorder writes it: key, body lines, closing line, divider.
inline std::string makeBlock(const std::string& key, const std::string& body = "<p>x</p>\r\n") {
  return key + "\r\n" + body + "HTTP/1.1 200 OK         \r\n" + kDividerLine + "\r\n";
}

inline std::string makeRequestLine(const std::string& key, const std::string& text = "GET /") {
  return key + " - " + text + "\r\n";
}

}  // namespace korva::testing
