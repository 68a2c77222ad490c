// The YUV4MPEG2 reader on arbitrary bytes: headers, FRAME lines and
// payloads; what it accepts is written back out, and what it refuses is
// refused with a message that sends none of the bytes raw to a terminal.
// Then the same bytes as verify reads them, on past damaged FRAME lines.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/message.h"
#include "frameserver/environment.h"
#include "tool/media/io.h"
#include "tool/media/y4m.h"
#include "tool/script/inputs.h"

using namespace tallyburn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto in = tool::InputStream::FromMemory(std::vector<uint8_t>(data, data + size), "fuzz");
  try {
    const tool::Y4mHeader h = tool::ReadY4mHeader(*in);
    // Big pictures are valid but slow the search: the size checks are what
    // matter for them, and they have run.
    if (static_cast<size_t>(h.width) * h.height > (1u << 16)) return 0;
    const VideoInfo vi = tool::Y4mVideoInfo(h);
    frameserver::Environment env(frameserver::FrameLayout{.tight = true});
    std::vector<uint8_t> scratch(tool::Y4mFrameBytes(h));
    auto out = tool::OutputStream::Open("/dev/null");
    tool::Y4mWriter writer(*out, vi);
    for (int n = 0; n < 4 && tool::ReadY4mFrameHeader(*in, n); ++n) {
      PVideoFrame frame = env.NewVideoFrame(vi);
      tool::ReadY4mPlanes(*in, h, n, *frame.get(), scratch);
      env.frames().CheckGuards(frame.get(), n);
      writer.WriteFrame(*frame.get());
    }
    out->Flush();
  } catch (const tool::ToolError& e) {
    if (Printable(e.what()) != e.what()) __builtin_trap();
  }
  try {
    auto pictures =
        tool::OpenY4mPictures(tool::InputStream::FromMemory(std::vector<uint8_t>(data, data + size), "fuzz"));
    const VideoInfo& vi = pictures->info();
    if (static_cast<size_t>(vi.width) * vi.height > (1u << 16)) return 0;
    for (int n = 0; n < 16; ++n) {
      const tool::Picture* p = pictures->Next(n % 2 == 0);
      if (p == nullptr) break;
      // A whole picture's luma is there to read.
      if (p->damage.empty() && (p->count < 1 || p->planes[0].data == nullptr)) __builtin_trap();
    }
  } catch (const tool::ToolError& e) {
    if (Printable(e.what()) != e.what()) __builtin_trap();
  }
  return 0;
}
