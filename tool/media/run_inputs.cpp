#include "tool/media/run_inputs.h"

#include "tool/media/sinks.h"

namespace tallyburn::tool {

void InputFiles::Add(const InputStream& in) {
  if (in.file()) inputs_.push_back({in.name(), *in.file()});
}

namespace {

// The files a path names as a frame pattern, if it is one.
std::vector<std::string> PatternFiles(const std::string& path) {
  if (path.find('%') == std::string::npos) return {};
  try {
    return FramePattern::Parse(path).Existing();
  } catch (const ToolError&) {
    return {};
  }
}

}  // namespace

void InputFiles::Add(const std::string& name, const std::string& path) {
  if (const std::optional<FileId> file = FileAt(path)) {
    inputs_.push_back({name, *file});
    return;
  }
  for (const std::string& p : PatternFiles(path))
    if (const std::optional<FileId> file = FileAt(p)) inputs_.push_back({name, *file});
}

std::optional<std::string> InputFiles::At(const FileId& file) const {
  for (const Input& i : inputs_)
    if (i.file == file) return i.name;
  return std::nullopt;
}

std::optional<std::string> InputFiles::At(const std::string& path) const {
  const std::optional<FileId> file = FileAt(path);
  return file ? At(*file) : std::nullopt;
}

void RefuseInput(const InputFiles& inputs, const std::string& path, const std::string& whose, const std::string& what) {
  if (path == "-") return;
  const auto refuse = [&](const std::string& input) {
    throw ToolError(path + ": is also an input of " + whose + " (" + input + "): write the " + what + " elsewhere");
  };
  if (const auto input = inputs.At(path)) refuse(*input);
  for (const std::string& p : PatternFiles(path))
    if (const auto input = inputs.At(p)) refuse(*input);
}

}  // namespace tallyburn::tool
