// File errors carried up to the one place that shows them to the user.
#pragma once

#include <stdexcept>
#include <string>

namespace korva {

// A failed file operation. what() is a German, user-facing description that names the file.
class FileError : public std::runtime_error {
 public:
  FileError(int errorNumber, const std::string& fileName);
  int errorNumber() const { return errorNumber_; }

 private:
  int errorNumber_;
};

// German description of an errno value, as the platform would word it.
std::string describeErrno(int errorNumber);

// "folder/name", or just name when folder is empty.
std::string joinPath(const std::string& folder, const std::string& name);

}  // namespace korva
