#include "apps/quillon-editor/MxEditorDocument.h"

#include <algorithm>

#include "ftp/MxFTPConnectAction.h"
#include "host/MxHostActions.h"
#include "rtl/SysUtils.h"

namespace editor {

namespace {
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
  std::string text = host::TProject::ReadFile(path);
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
  // An unedited project goes back as it was read: a fresh save would encrypt its passwords anew.
  std::string text = modified_ || loadedText_.empty() ? project_->SaveToString() : loadedText_;
  host::TProject::WriteFile(path, text);
  loadedText_ = std::move(text);
  path_ = path;
  modified_ = false;
}

namespace {
void AddRows(TActionList& actions, const std::string& parentPosition, int depth,
             std::vector<TActionRow>& out) {
  for (std::size_t i = 0; i < actions.size(); ++i) {
    const std::string position = parentPosition + std::to_string(i + 1);
    out.push_back({actions[i].get(), &actions, i, depth, position});
    AddRows(actions[i]->ChildActions(), position + ".", depth + 1, out);
  }
}

int RowOf(const std::vector<TActionRow>& rows, const host::TMxAction* action) {
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].Action == action) return static_cast<int>(i);
  return -1;
}
}  // namespace

std::vector<TActionRow> TEditorDocument::Rows() const {
  std::vector<TActionRow> rows;
  if (project_) AddRows(project_->Actions, {}, 0, rows);
  return rows;
}

int TEditorDocument::InsertAfter(int row, std::unique_ptr<host::TMxAction> action) {
  const std::vector<TActionRow> rows = Rows();
  if (row < 0 || row >= static_cast<int>(rows.size()))
    return Insert(project_->Actions, project_->Actions.size(), std::move(action));
  const TActionRow& r = rows[static_cast<std::size_t>(row)];
  return Insert(*r.Siblings, r.Index + 1, std::move(action));
}

int TEditorDocument::InsertChild(int row, std::unique_ptr<host::TMxAction> action) {
  const std::vector<TActionRow> rows = Rows();
  if (row < 0 || row >= static_cast<int>(rows.size())) return -1;
  host::TMxAction& parent = *rows[static_cast<std::size_t>(row)].Action;
  if (!parent.GetIsFlowControlAction()) return -1;
  return Insert(parent.ChildActions(), parent.ChildActions().size(), std::move(action));
}

int TEditorDocument::Insert(TActionList& siblings, std::size_t at, std::unique_ptr<host::TMxAction> action) {
  // Bound as the project binds what it is given, then taken to its place among the siblings.
  project_->AddAction(std::move(action));
  std::unique_ptr<host::TMxAction> owned = std::move(project_->Actions.back());
  project_->Actions.pop_back();
  host::TMxAction& added = *owned;
  siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(std::min(at, siblings.size())),
                  std::move(owned));
  // As the loader treats an action it made: initialised, then told it is loaded (an FTP
  // connection registers its session there), only with its defaults for properties.
  added.Initialise();
  added.Loaded();
  const std::vector<TActionRow> rows = Rows();
  const int row = RowOf(rows, &added);
  GiveConnectionName(added, rows, row);
  modified_ = true;
  return row;
}

void TEditorDocument::GiveConnectionName(host::TMxAction& added, const std::vector<TActionRow>& rows,
                                         int row) {
  // A new connection is named at once: two unnamed ones clash, and the actions after it need a
  // name to pick. The setter keeps it unique ("Copy of FTP").
  if (auto* c = dynamic_cast<mx::TFTPConnectionAction*>(&added)) {
    if (c->GetFTPConnectionName().empty()) c->SetFTPConnectionName(k_new_connection_name);
    return;
  }
  // An action working on a connection starts on the nearest one run before it.
  const host::TPropInfo* p = added.GetProperties().Find("ConnectionName");
  if (!p || !added.GetPropertyText(p->Name).empty()) return;
  for (int i = row - 1; i >= 0; --i)
    if (const auto* c = dynamic_cast<const mx::TFTPConnectionAction*>(rows[std::size_t(i)].Action)) {
      added.SetPropertyText(p->Name, c->GetFTPConnectionName());
      return;
    }
}

bool TEditorDocument::RemoveAction(int row) {
  const std::vector<TActionRow> rows = Rows();
  if (row < 0 || row >= static_cast<int>(rows.size())) return false;
  const TActionRow& r = rows[static_cast<std::size_t>(row)];
  r.Siblings->erase(r.Siblings->begin() + static_cast<std::ptrdiff_t>(r.Index));
  modified_ = true;
  return true;
}

int TEditorDocument::MoveAction(int row, int delta) {
  const std::vector<TActionRow> rows = Rows();
  if (row < 0 || row >= static_cast<int>(rows.size()) || delta == 0) return -1;
  const TActionRow& r = rows[static_cast<std::size_t>(row)];
  const auto to = static_cast<std::ptrdiff_t>(r.Index) + delta;
  if (to < 0 || to >= static_cast<std::ptrdiff_t>(r.Siblings->size())) return -1;
  std::swap((*r.Siblings)[r.Index], (*r.Siblings)[static_cast<std::size_t>(to)]);
  modified_ = true;
  return RowOf(Rows(), r.Action);
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
