// Buffered byte streams over file descriptors (and memory, for tests and
// the fuzzers), with large reads and writes and errors as ToolError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tallyburn::tool {

// A user-facing failure of the tool: the message is the whole line.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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

  // Up to n bytes into dst; fewer only at the end of the stream.
  size_t Read(uint8_t* dst, size_t n);
  // One byte, or -1 at the end.
  int Get();
  // Skips n bytes; returns how many were there.
  size_t Skip(size_t n);

 private:
  InputStream(int fd, bool owned, std::string name, int64_t size);
  bool Fill();

  int fd_;
  bool owned_;
  std::string name_;
  int64_t size_;
  std::vector<uint8_t> buffer_;
  size_t begin_ = 0, end_ = 0;
  bool eof_ = false;
};

class OutputStream {
 public:
  // "-" is standard output.
  static std::unique_ptr<OutputStream> Open(const std::string& path);
  ~OutputStream();
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  const std::string& name() const { return name_; }
  void Write(const uint8_t* src, size_t n);
  void Write(const std::string& s) { Write(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
  void Flush();

 private:
  OutputStream(int fd, bool owned, std::string name);
  void WriteAll(const uint8_t* src, size_t n);

  int fd_;
  bool owned_;
  std::string name_;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
};

}  // namespace tallyburn::tool
