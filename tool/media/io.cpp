#include "tool/media/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>

namespace tallyburn::tool {
namespace {

constexpr size_t kBufferBytes = 1 << 20;
// Reads and writes at least this large skip the buffer: whole planes go
// between the file and the frame without a copy.
constexpr size_t kDirectBytes = 1 << 16;
constexpr size_t kLineBytes = 4096;

std::string Describe(const std::string& path) { return path == "-" ? "standard input" : path; }

// The temporaries a signal removes. Fixed storage and atomics only: the
// handler reads it without locks or allocation.
constexpr int kSlots = 64;
constexpr size_t kPathBytes = 4096;
constexpr int kFree = 0, kFilling = 1, kKept = 2;
struct TemporarySlot {
  std::atomic<int> state{kFree};
  std::atomic<long> files{-1};  // -1: a file; otherwise a folder of that many
  char path[kPathBytes];
};
TemporarySlot g_temporaries[kSlots];

int Track(const std::string& path, long files) {
  if (path.size() + 24 > kPathBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!g_temporaries[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(g_temporaries[i].path, path.c_str(), path.size() + 1);
    g_temporaries[i].files.store(files);
    g_temporaries[i].state.store(kKept);
    return i;
  }
  return -1;
}

void RemoveOnSignal(int signal) {
  // Files first, so that the folders they were in are empty.
  for (TemporarySlot& t : g_temporaries)
    if (t.state.load() == kKept && t.files.load() < 0) ::unlink(t.path);
  for (TemporarySlot& t : g_temporaries) {
    if (t.state.load() != kKept || t.files.load() < 0) continue;
    char file[kPathBytes + 24];
    size_t at = std::strlen(t.path);
    std::memcpy(file, t.path, at);
    file[at++] = '/';
    for (long n = t.files.load() - 1; n >= 0; --n) {
      char digits[24];
      int count = 0;
      for (long v = n; count == 0 || v > 0; v /= 10) digits[count++] = static_cast<char>('0' + v % 10);
      for (int d = 0; d < count; ++d) file[at + d] = digits[count - 1 - d];
      file[at + count] = '\0';
      ::unlink(file);
    }
    ::rmdir(t.path);
  }
  // The handler was reset on entry (a second signal ends the run at once):
  // the signal raised again ends the tool as it would have.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

namespace {

// Makes a temporary file (or folder) from a template ending in XXXXXX and
// tracks it. The name is tracked before the file exists, so a signal in
// any thread finds it: a file made and tracked after would leave a moment
// where a signal (delivered to an encoder's thread) misses it.
int CreateTracked(std::string& path, bool folder, int* slot) {
  static std::atomic<unsigned> counter{0};
  const size_t at = path.size() - 6;
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t v = (static_cast<uint64_t>(::getpid()) << 20) ^ (counter.fetch_add(1) * 2654435761u) ^
                 static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (size_t i = 0; i < 6; ++i, v /= 36) path[at + i] = "0123456789abcdefghijklmnopqrstuvwxyz"[v % 36];
    *slot = Track(path, folder ? 0 : -1);
    const int made =
        folder ? ::mkdir(path.c_str(), 0700) : ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (made >= 0) return made;
    const int error = errno;
    UntrackTemporary(*slot);
    *slot = -1;
    if (error != EEXIST) {
      errno = error;
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

int MakeTemporaryFolder(std::string& path_template, const std::string& name) {
  int slot = -1;
  if (CreateTracked(path_template, true, &slot) < 0) throw ToolError(name + ": cannot create: " + std::strerror(errno));
  return slot;
}

void CountTemporaryFiles(int slot, long files) {
  if (slot >= 0) g_temporaries[slot].files.store(files);
}

void UntrackTemporary(int slot) {
  if (slot >= 0) g_temporaries[slot].state.store(kFree);
}

void RemoveTemporariesOnSignals() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RemoveOnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    ::sigaction(signal, &action, nullptr);
  }
}

std::string ThroughLinks(const std::string& path) {
  namespace fs = std::filesystem;
  fs::path p(path);
  std::error_code ec;
  // As many links as the system follows in a path.
  for (int i = 0; i < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++i) {
    const fs::path to = fs::read_symlink(p, ec);
    if (ec) break;
    p = to.is_absolute() ? to : p.parent_path() / to;
  }
  return p.string();
}

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
  std::optional<FileId> file;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    size = st.st_size;
    file = FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  }
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    if (owned) ::close(fd);
    throw ToolError(path + ": is a directory");
  }
  auto in = std::unique_ptr<InputStream>(new InputStream(fd, owned, Describe(path), size));
  in->file_ = file;
  return in;
}

std::unique_ptr<InputStream> InputStream::FromMemory(std::vector<uint8_t> bytes, std::string name) {
  auto in =
      std::unique_ptr<InputStream>(new InputStream(-1, false, std::move(name), static_cast<int64_t>(bytes.size())));
  in->buffer_ = std::move(bytes);
  in->end_ = in->buffer_.size();
  in->eof_ = true;
  return in;
}

bool InputStream::Fill(size_t want) {
  if (eof_) return false;
  begin_ = end_ = 0;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.data(), std::min(want, buffer_.size()));
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
      if (!eof_ && fd_ >= 0 && n - done >= kDirectBytes) {
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
      // A few bytes (a FRAME line) fill a little, leaving the plane that
      // follows in the file for a direct read.
      if (!Fill(n - done < kLineBytes ? kLineBytes : buffer_.size())) break;
    }
    const size_t take = std::min(n - done, end_ - begin_);
    std::memcpy(dst + done, buffer_.data() + begin_, take);
    begin_ += take;
    done += take;
  }
  return done;
}

// Bytes taken one at a time (header lines) are read in small pieces, so
// that the planes after them are still in the file for a direct read.
int InputStream::Get() {
  if (begin_ == end_ && !Fill(kLineBytes)) return -1;
  return buffer_[begin_++];
}

int InputStream::Peek() {
  if (begin_ == end_ && !Fill(kLineBytes)) return -1;
  return buffer_[begin_];
}

size_t InputStream::ReadAt(int64_t offset, uint8_t* dst, size_t n) const {
  if (offset < 0 || size_ < 0 || offset >= size_) return 0;
  n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), size_ - offset));
  if (fd_ < 0) {  // memory
    std::memcpy(dst, buffer_.data() + offset, n);
    return n;
  }
  size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd_, dst + done, n - done, offset + static_cast<int64_t>(done));
    if (got > 0) {
      done += static_cast<size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      throw ToolError(name_ + ": read error: " + std::strerror(errno));
    }
  }
  return done;
}

size_t InputStream::Skip(size_t n) {
  size_t done = 0;
  while (done < n) {
    if (begin_ == end_ && !Fill(buffer_.size())) break;
    const size_t take = std::min(n - done, end_ - begin_);
    begin_ += take;
    done += take;
  }
  return done;
}

OutputStream::OutputStream(int fd, bool owned, std::string name, std::string temporary)
    : fd_(fd), owned_(owned), name_(std::move(name)), temporary_(std::move(temporary)) {
  buffer_.resize(kBufferBytes);
  struct stat st {};
  if (temporary_.empty() && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
    // Appended output starts at the file's end, whatever the offset says.
    const int flags = ::fcntl(fd_, F_GETFL);
    const off_t at = flags >= 0 && (flags & O_APPEND) != 0 ? st.st_size : ::lseek(fd_, 0, SEEK_CUR);
    if (at >= 0) file_start_ = at;
  }
}

OutputStream::~OutputStream() {
  if (owned_) ::close(fd_);
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  Forget();
}

void OutputStream::Forget() {
  UntrackTemporary(tracked_);
  tracked_ = -1;
}

std::optional<FileId> FileAt(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool IsRegularOrNew(const std::string& path) {
  if (path == "-") return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode);
}

std::unique_ptr<OutputStream> OutputStream::Open(const std::string& path, const std::string& name) {
  if (path == "-") return std::unique_ptr<OutputStream>(new OutputStream(STDOUT_FILENO, false, "standard output", ""));
  if (!IsRegularOrNew(path)) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw ToolError(path + ": cannot open: " + std::strerror(errno));
    return std::unique_ptr<OutputStream>(new OutputStream(fd, true, path, ""));
  }
  // A temporary file beside the output, on the same file system, so that
  // the rename at the end replaces it in one step.
  // Through a link, the temporary goes beside the link's target.
  const std::string replaced = ThroughLinks(path);
  const std::filesystem::path target(replaced);
  std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".tallyburn-XXXXXX")).string();
  const std::string shown = name.empty() ? path : name;
  int tracked = -1;
  const int fd = CreateTracked(temporary, false, &tracked);
  if (fd < 0) throw ToolError(shown + ": cannot create: " + std::strerror(errno));
  struct stat st {};
  // Keep an existing file's permissions; a new one gets the usual 0666
  // less the umask.
  if (::stat(replaced.c_str(), &st) == 0) {
    ::fchmod(fd, st.st_mode & 07777);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
  auto out = std::unique_ptr<OutputStream>(new OutputStream(fd, true, shown, std::move(temporary)));
  out->target_ = replaced;
  out->tracked_ = tracked;
  return out;
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
    written_ += static_cast<uint64_t>(put);
    for (; !frame_ends_.empty() && frame_ends_.front() <= written_; frame_ends_.pop_front())
      durable_ = frame_ends_.front();
  }
}

void OutputStream::Write(const uint8_t* src, size_t n) {
  // Large writes (a frame's planes) go straight from the frame, after what
  // is buffered.
  if (used_ + n > buffer_.size() || n >= kDirectBytes) Flush();
  if (n >= kDirectBytes) return WriteAll(src, n);
  std::memcpy(buffer_.data() + used_, src, n);
  used_ += n;
}

void OutputStream::Flush() {
  const uint64_t before = written_;
  try {
    WriteAll(buffer_.data(), used_);
  } catch (const ToolError&) {
    // The buffer keeps only what did not go out, so that it still starts
    // where the output stands.
    const size_t out = static_cast<size_t>(written_ - before);
    std::memmove(buffer_.data(), buffer_.data() + out, used_ - out);
    used_ -= out;
    throw;
  }
  used_ = 0;
}

int64_t OutputStream::Seek(int64_t offset, int whence) {
  Flush();
  return ::lseek(fd_, offset, whence);
}

int64_t OutputStream::Size() {
  Flush();
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

void OutputStream::Abandon() {
  if (!temporary_.empty()) return;
  // Only the whole frames of the buffer go out; a write that failed inside
  // a frame has left part of it in a regular file, which is cut off.
  const uint64_t whole = frame_ends_.empty() ? durable_ : frame_ends_.back();
  const size_t keep = whole > written_ ? static_cast<size_t>(whole - written_) : 0;
  used_ = 0;
  const auto cut_back = [this] {
    if (file_start_ && written_ > durable_ && ::ftruncate(fd_, *file_start_ + static_cast<off_t>(durable_)) != 0)
      throw ToolError(name_ + ": cannot cut back to the last whole frame: " + std::strerror(errno));
  };
  try {
    if (keep > 0) WriteAll(buffer_.data(), keep);
  } catch (const ToolError&) {
    cut_back();
    throw;
  }
  cut_back();
}

void OutputStream::Commit() {
  Flush();
  if (temporary_.empty()) return;
  if (::rename(temporary_.c_str(), target_.c_str()) != 0)
    throw ToolError(name_ + ": cannot replace: " + std::strerror(errno));
  temporary_.clear();
  Forget();
}

}  // namespace tallyburn::tool
