#include "apps/quillon-editor/MxEditorDocument.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "rtl/Exception.h"

namespace editor {

namespace {
std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw rtl::Exception("Cannot open " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Beside the target, then renamed: a failed save never leaves half a project.
void WriteAtomically(const std::string& path, const std::string& text) {
  const std::string temp = path + ".saving";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size())).flush())
      throw rtl::Exception("Cannot write " + temp);
  }
  std::filesystem::rename(temp, path);
}
}  // namespace

void TEditorDocument::Open(const std::string& path) {
  std::string text = ReadAll(path);
  project_ = host::TProject::LoadFromString(text, path, host_);
  path_ = path;
  loadedText_ = std::move(text);
  modified_ = false;
}

void TEditorDocument::NewProject() {
  project_ = std::make_unique<host::TProject>();
  path_.clear();
  loadedText_.clear();
  modified_ = false;
}

void TEditorDocument::Save(const std::string& path) {
  if (!project_) return;
  if (modified_ || loadedText_.empty()) {
    project_->SaveToFile(path);
    loadedText_ = ReadAll(path);
  } else {
    WriteAtomically(path, loadedText_);
  }
  path_ = path;
  modified_ = false;
}

}  // namespace editor
