// The kinds of video the tool reads, one row each: the script function
// that reads it, how an input is recognised as one, and what the help text
// says of it. The script's sources and verify choose from the same rows.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "frameserver/environment.h"
#include "tool/media/picture.h"
#include "tool/script/context.h"

namespace tallyburn::tool {

struct InputKind {
  const char* name;       // "YUV4MPEG2"
  const char* signature;  // its script function, as the help text shows it
  const char* help;       // what it reads, lines of the help text
  const char* chosen;     // how verify picks it, for its help text; nullptr: verify does not
  // Whether a file beginning with `head` is of this kind; nullptr: only by
  // its function's name (raw frames carry no header).
  bool (*claims)(std::string_view head);
  void (*register_function)(frameserver::Environment& env, ToolContext& context);
  // The file's pictures in order, for verify.
  std::unique_ptr<PictureReader> (*open)(const std::string& path);
};

std::span<const InputKind> InputKinds();

// The pictures of `path` ("-": standard input), read by the first kind
// that claims the file: YUV4MPEG2 by its header, FFmpeg's libraries for
// every other file. Standard input is read as YUV4MPEG2.
std::unique_ptr<PictureReader> OpenPictures(const std::string& path);
// A YUV4MPEG2 stream's pictures, as verify reads them.
std::unique_ptr<PictureReader> OpenY4mPictures(std::unique_ptr<InputStream> in);

// The rows as the help texts list them: the script functions, and the
// kinds verify reads.
std::string SourcesHelp();
std::string VerifyInputsHelp();

}  // namespace tallyburn::tool
