#include "apps/quillon-editor/MxEditorDocument.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "ftp/MxFTPConnectAction.h"
#include "host/MxHostActions.h"
#include "rtl/Exception.h"
#include "rtl/SysUtils.h"

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

constexpr const char* k_new_connection_name = "FTP";

void AddOnce(std::vector<std::string>& names, const std::string& name) {
  if (name.empty()) return;
  for (const std::string& n : names)
    if (rtl::SameText(n, name)) return;
  names.push_back(name);
}

// Every action, child actions of flow control included, in run order.
template <class F>
void ForEachAction(const std::vector<std::unique_ptr<host::TMxAction>>& actions, F&& f) {
  for (const auto& a : actions) {
    f(*a);
    ForEachAction(a->ChildActions(), f);
  }
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

int TEditorDocument::InsertAction(int row, std::unique_ptr<host::TMxAction> action) {
  auto& actions = project_->Actions;
  const int at = std::clamp(row, 0, static_cast<int>(actions.size()));
  // As the loader treats an action it made: bound, initialised, then told it is loaded (an FTP
  // connection registers its session there), only with its defaults for properties.
  host::TMxAction& added = project_->AddAction(std::move(action));
  added.Initialise();
  added.Loaded();
  GiveConnectionName(added, at);
  std::rotate(actions.begin() + at, actions.end() - 1, actions.end());
  modified_ = true;
  return at;
}

void TEditorDocument::GiveConnectionName(host::TMxAction& added, int at) {
  // A new connection is named at once: two unnamed ones clash, and the actions after it need a
  // name to pick. The setter keeps it unique ("Copy of FTP").
  if (auto* c = dynamic_cast<mx::TFTPConnectionAction*>(&added)) {
    if (c->GetFTPConnectionName().empty()) c->SetFTPConnectionName(k_new_connection_name);
    return;
  }
  // An action working on a connection starts on the nearest one above it.
  const host::TPropInfo* p = added.GetProperties().Find("ConnectionName");
  if (!p || !added.GetPropertyText(p->Name).empty()) return;
  const auto& actions = project_->Actions;
  for (int i = std::min(at, static_cast<int>(actions.size())) - 1; i >= 0; --i)
    if (const auto* c = dynamic_cast<const mx::TFTPConnectionAction*>(actions[std::size_t(i)].get())) {
      added.SetPropertyText(p->Name, c->GetFTPConnectionName());
      return;
    }
}

bool TEditorDocument::RemoveAction(int row) {
  auto& actions = project_->Actions;
  if (row < 0 || row >= static_cast<int>(actions.size())) return false;
  actions.erase(actions.begin() + row);
  modified_ = true;
  return true;
}

bool TEditorDocument::MoveAction(int row, int delta) {
  auto& actions = project_->Actions;
  const int to = row + delta;
  const int count = static_cast<int>(actions.size());
  if (row < 0 || row >= count || to < 0 || to >= count || delta == 0) return false;
  std::swap(actions[static_cast<std::size_t>(row)], actions[static_cast<std::size_t>(to)]);
  modified_ = true;
  return true;
}

std::vector<std::string> TEditorDocument::ConnectionNames() const {
  std::vector<std::string> names;
  ForEachAction(project_->Actions, [&](const host::TMxAction& a) {
    if (const auto* c = dynamic_cast<const mx::TFTPConnectionAction*>(&a))
      AddOnce(names, c->GetFTPConnectionName());
  });
  return names;
}

std::vector<std::string> TEditorDocument::VariableNames() const {
  std::vector<std::string> names;
  for (const auto& [name, value] : project_->Variables) AddOnce(names, name);
  ForEachAction(project_->Actions, [&](const host::TMxAction& a) {
    if (const auto* s = dynamic_cast<const host::TSetVariableAction*>(&a))
      AddOnce(names, s->GetVariableName());
  });
  return names;
}

}  // namespace editor
