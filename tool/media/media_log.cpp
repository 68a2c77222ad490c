#include "tool/media/media_log.h"

extern "C" {
#include <libavutil/log.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace tallyburn::tool {
namespace {

std::mutex log_mutex;
std::string last_error;  // guarded by log_mutex

void Keep(void* avcl, int level, const char* fmt, va_list args) {
  if (level > AV_LOG_ERROR) return;
  char line[512];
  int print_prefix = 0;  // without "[name @ address]"
  av_log_format_line2(avcl, level, fmt, args, line, sizeof line, &print_prefix);
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '.')) text.pop_back();
  const std::lock_guard lock(log_mutex);
  last_error = std::move(text);
}

}  // namespace

void KeepMediaLogQuiet() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(Keep); });
}

std::string TakeMediaLogError() {
  const std::lock_guard lock(log_mutex);
  std::string text = std::move(last_error);
  last_error.clear();
  return text;
}

QuietStandardError::QuietStandardError() : saved_(::dup(STDERR_FILENO)) {
  std::fflush(stderr);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, STDERR_FILENO);
    ::close(null);
  }
}

QuietStandardError::~QuietStandardError() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  ::dup2(saved_, STDERR_FILENO);
  ::close(saved_);
}

}  // namespace tallyburn::tool
