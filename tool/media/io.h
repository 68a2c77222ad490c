// Buffered byte streams over file descriptors (and memory, for tests and
// the fuzzers), with large reads and writes and errors as ToolError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/message.h"

namespace tallyburn::tool {

// A user-facing failure of the tool: the message is the whole line. What
// it quotes of a file (its name, a header's tags) is printed with control
// bytes escaped, whichever message it ends up in.
class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& what) : std::runtime_error(Printable(what)) {}
};

// A bad command line: exit status 2 rather than 1.
class UsageError : public ToolError {
 public:
  using ToolError::ToolError;
};

// A stream that ends inside a frame: the same message from a file and a pipe.
// Inside its first, it holds no frame at all, which is what it says.
class TruncatedFrame : public ToolError {
 public:
  TruncatedFrame(const std::string& stream, int frame, size_t got, size_t want)
      : ToolError(stream + ": " +
                  (frame == 0 ? std::string(stream == "standard input" ? "the stream" : "the file") +
                                    " is cut short before its first frame"
                              : "truncated frame " + std::to_string(frame)) +
                  " (got " + std::to_string(got) + " of " + std::to_string(want) + " bytes)") {}
};

// Which file a path or descriptor is, through links: device and inode.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};

class InputStream {
 public:
  // "-" is standard input. Throws ToolError when the file cannot be opened.
  static std::unique_ptr<InputStream> Open(const std::string& path);
  static std::unique_ptr<InputStream> FromMemory(std::vector<uint8_t> bytes, std::string name);
  ~InputStream();
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  const std::string& name() const { return name_; }
  // Size of a regular file, or -1 for a pipe or terminal.
  int64_t size() const { return size_; }
  // The file read, when it is one (a regular file, standard input too).
  const std::optional<FileId>& file() const { return file_; }

  // Up to n bytes into dst; fewer only at the end of the stream.
  size_t Read(uint8_t* dst, size_t n);
  // One byte, or -1 at the end.
  int Get();
  // The next byte without taking it, or -1 at the end.
  int Peek();
  // Up to n bytes at `offset` from the start of a regular file (or of
  // memory), leaving the stream where it is.
  size_t ReadAt(int64_t offset, uint8_t* dst, size_t n) const;
  // Skips n bytes; returns how many were there.
  size_t Skip(size_t n);

 private:
  InputStream(int fd, bool owned, std::string name, int64_t size);
  bool Fill(size_t want);

  int fd_;
  bool owned_;
  std::string name_;
  int64_t size_;
  std::optional<FileId> file_;
  std::vector<uint8_t> buffer_;
  size_t begin_ = 0, end_ = 0;
  bool eof_ = false;
};

class OutputStream {
 public:
  // "-" is standard output. A regular file (or a new one) is written to a
  // temporary file beside it and replaces it only at Commit(), so a failed
  // (or interrupted) run leaves what was there; a device or a FIFO is
  // written directly. A symbolic link is followed: its target is written
  // the same way, and the link stays. Messages name the file `name` when
  // given (a picture written in a temporary folder), else `path`.
  static std::unique_ptr<OutputStream> Open(const std::string& path, const std::string& name = "");
  // Removes the temporary file of an output never committed.
  ~OutputStream();
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  const std::string& name() const { return name_; }
  void Write(const uint8_t* src, size_t n);
  void Write(const std::string& s) { Write(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
  void Flush();
  // Everything written so far is whole frames: what a failed run keeps.
  void EndFrame() { frame_ends_.push_back(written_ + used_); }
  // Flushes, then moves the write position of a file (lseek's `whence`);
  // returns the new position, or -1 where the output cannot seek (a pipe,
  // a device). Containers that patch their headers at the end need it.
  int64_t Seek(int64_t offset, int whence);
  // Flushes, and returns the bytes written so far to a file, or -1.
  int64_t Size();
  // Flushes, and puts a temporary file in the output's place.
  void Commit();
  // After a failure: written in place (a pipe, a device), the whole frames
  // buffered are flushed, and a regular file (standard output redirected to
  // one) is cut back to its last whole frame; a temporary file is left to
  // be removed.
  void Abandon();

 private:
  OutputStream(int fd, bool owned, std::string name, std::string temporary);
  void Forget();
  void WriteAll(const uint8_t* src, size_t n);

  int fd_;
  bool owned_;
  std::string name_;
  std::string temporary_;  // empty: written in place
  std::string target_;     // the file the temporary replaces: the name, through links
  int tracked_ = -1;       // the temporary's place among those a signal removes
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  uint64_t written_ = 0;             // bytes handed to the descriptor
  uint64_t durable_ = 0;             // of them, the bytes up to the end of the last whole frame
  std::deque<uint64_t> frame_ends_;  // ends of the whole frames not yet all written
  // Written in place to a regular file: where this output began in it, so
  // that a failed run can cut it back.
  std::optional<int64_t> file_start_;
};

// Temporary files and folders made and not yet put in place: SIGINT,
// SIGTERM and SIGHUP remove them before the tool dies of the signal. A
// folder's files are named 0, 1, 2, ... within it. The registry has a
// fixed size (its handler may not allocate): past it a path is not kept,
// and -1 returned.
// Makes a temporary folder from a template ending in XXXXXX, tracked
// before it exists; returns its slot, or throws ToolError naming `name`.
int MakeTemporaryFolder(std::string& path_template, const std::string& name);
// How many files (0 to files-1) a tracked folder may hold.
void CountTemporaryFiles(int slot, long files);
// The path was put in place or removed: nothing left to remove.
void UntrackTemporary(int slot);
// Installs the handlers of SIGINT, SIGTERM and SIGHUP (not of one the
// tool was started with ignored, as under nohup).
void RemoveTemporariesOnSignals();

// A path through its symbolic links (to a target that may not exist yet);
// the path itself when it is no link.
std::string ThroughLinks(const std::string& path);

// The file a path names now (through links), if it exists.
std::optional<FileId> FileAt(const std::string& path);

// Whether a path is, or would be, a regular file: not standard output, a
// device or a FIFO.
bool IsRegularOrNew(const std::string& path);

}  // namespace tallyburn::tool
