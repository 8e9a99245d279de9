// Reading whole files and writing files atomically.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "api/internal.h"
#include "orovox/orovox.h"

namespace Orovox::Files {
namespace {

std::string Reason() { return std::strerror(errno); }

}  // namespace

std::string ReadAll(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error("cannot open '" + path + "': " + Reason());
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw Error("cannot read '" + path + "': it is a directory");
  }
  std::string data;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const std::string why = Reason();
      ::close(fd);
      throw Error("cannot read '" + path + "': " + why);
    }
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return data;
}

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  std::string pattern = path_ + ".tmp-XXXXXX";
  fd_ = ::mkstemp(pattern.data());
  if (fd_ < 0) throw Error("cannot write '" + path_ + "': " + Reason());
  temp_ = pattern;
  ::fchmod(fd_, 0644);
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_) ::unlink(temp_.c_str());
}

void AtomicFile::Write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error("cannot write '" + path_ + "': " + Reason());
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
}

void AtomicFile::Commit() {
  if (::close(fd_) != 0) {
    fd_ = -1;
    throw Error("cannot write '" + path_ + "': " + Reason());
  }
  fd_ = -1;
  if (::rename(temp_.c_str(), path_.c_str()) != 0) throw Error("cannot write '" + path_ + "': " + Reason());
  committed_ = true;
}

void WriteAtomically(const std::string& path, const std::string& contents) {
  AtomicFile f(path);
  f.Write(contents.data(), contents.size());
  f.Commit();
}

}  // namespace Orovox::Files
