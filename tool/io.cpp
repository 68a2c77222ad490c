#include "tool/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tallyburn::tool {
namespace {

constexpr size_t kBufferBytes = 1 << 20;

std::string Describe(const std::string& path) { return path == "-" ? "standard input" : path; }

}  // namespace

InputStream::InputStream(int fd, bool owned, std::string name, int64_t size)
    : fd_(fd), owned_(owned), name_(std::move(name)), size_(size) {
  if (fd_ >= 0) buffer_.resize(kBufferBytes);
}

InputStream::~InputStream() {
  if (owned_ && fd_ >= 0) ::close(fd_);
}

std::unique_ptr<InputStream> InputStream::Open(const std::string& path) {
  int fd = STDIN_FILENO;
  bool owned = false;
  if (path != "-") {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw ToolError(path + ": cannot open: " + std::strerror(errno));
    owned = true;
  }
  struct stat st {};
  int64_t size = -1;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = st.st_size;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    if (owned) ::close(fd);
    throw ToolError(path + ": is a directory");
  }
  return std::unique_ptr<InputStream>(new InputStream(fd, owned, Describe(path), size));
}

std::unique_ptr<InputStream> InputStream::FromMemory(std::vector<uint8_t> bytes, std::string name) {
  auto in =
      std::unique_ptr<InputStream>(new InputStream(-1, false, std::move(name), static_cast<int64_t>(bytes.size())));
  in->buffer_ = std::move(bytes);
  in->end_ = in->buffer_.size();
  in->eof_ = true;
  return in;
}

bool InputStream::Fill() {
  if (eof_) return false;
  begin_ = end_ = 0;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
    if (got > 0) {
      end_ = static_cast<size_t>(got);
      return true;
    }
    if (got == 0) {
      eof_ = true;
      return false;
    }
    if (errno != EINTR) throw ToolError(name_ + ": read error: " + std::strerror(errno));
  }
}

size_t InputStream::Read(uint8_t* dst, size_t n) {
  size_t done = 0;
  while (done < n) {
    if (begin_ == end_) {
      // Large requests go straight to the destination.
      if (!eof_ && fd_ >= 0 && n - done >= buffer_.size()) {
        const ssize_t got = ::read(fd_, dst + done, n - done);
        if (got > 0) {
          done += static_cast<size_t>(got);
          continue;
        }
        if (got == 0) {
          eof_ = true;
          break;
        }
        if (errno == EINTR) continue;
        throw ToolError(name_ + ": read error: " + std::strerror(errno));
      }
      if (!Fill()) break;
    }
    const size_t take = std::min(n - done, end_ - begin_);
    std::memcpy(dst + done, buffer_.data() + begin_, take);
    begin_ += take;
    done += take;
  }
  return done;
}

int InputStream::Get() {
  if (begin_ == end_ && !Fill()) return -1;
  return buffer_[begin_++];
}

size_t InputStream::Skip(size_t n) {
  size_t done = 0;
  while (done < n) {
    if (begin_ == end_ && !Fill()) break;
    const size_t take = std::min(n - done, end_ - begin_);
    begin_ += take;
    done += take;
  }
  return done;
}

OutputStream::OutputStream(int fd, bool owned, std::string name) : fd_(fd), owned_(owned), name_(std::move(name)) {
  buffer_.resize(kBufferBytes);
}

OutputStream::~OutputStream() {
  if (owned_) ::close(fd_);
}

std::unique_ptr<OutputStream> OutputStream::Open(const std::string& path) {
  if (path == "-") return std::unique_ptr<OutputStream>(new OutputStream(STDOUT_FILENO, false, "standard output"));
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw ToolError(path + ": cannot create: " + std::strerror(errno));
  return std::unique_ptr<OutputStream>(new OutputStream(fd, true, path));
}

void OutputStream::WriteAll(const uint8_t* src, size_t n) {
  while (n > 0) {
    const ssize_t put = ::write(fd_, src, n);
    if (put < 0) {
      if (errno == EINTR) continue;
      if (errno == EPIPE) throw ToolError(name_ + ": the reader closed the pipe");
      throw ToolError(name_ + ": write error: " + std::strerror(errno));
    }
    src += put;
    n -= static_cast<size_t>(put);
  }
}

void OutputStream::Write(const uint8_t* src, size_t n) {
  if (used_ + n > buffer_.size()) {
    Flush();
    if (n >= buffer_.size()) return WriteAll(src, n);
  }
  std::memcpy(buffer_.data() + used_, src, n);
  used_ += n;
}

void OutputStream::Flush() {
  WriteAll(buffer_.data(), used_);
  used_ = 0;
}

}  // namespace tallyburn::tool
