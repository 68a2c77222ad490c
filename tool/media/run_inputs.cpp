#include "tool/media/run_inputs.h"

namespace tallyburn::tool {

void InputFiles::Add(const InputStream& in) {
  if (in.file()) inputs_.push_back({in.name(), *in.file()});
}

void InputFiles::Add(const std::string& name, const std::string& path) {
  if (const std::optional<FileId> file = FileAt(path)) inputs_.push_back({name, *file});
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

void RefuseInput(const InputFiles& inputs, const std::string& path) {
  if (path == "-") return;
  if (const auto input = inputs.At(path))
    throw ToolError(path + ": is also an input of the script (" + *input + "): write the output elsewhere");
}

}  // namespace tallyburn::tool
