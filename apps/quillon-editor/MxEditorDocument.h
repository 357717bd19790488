#pragma once
// The project the editor holds: loaded through the host's own loader, saved through its saver.
// A project nobody edited is written back byte for byte as it was read (a fresh save would
// re-encrypt its passwords with new random bytes).
#include <memory>
#include <string>
#include <vector>

#include "host/MxProject.h"
#include "host/MxServices.h"

namespace editor {

using TActionList = std::vector<std::unique_ptr<host::TMxAction>>;

// One row of the editor's list: an action in run order, child actions right after their parent.
struct TActionRow {
  host::TMxAction* Action = nullptr;
  TActionList* Siblings = nullptr;  // the top level or the parent's children
  std::size_t Index = 0;            // in Siblings
  int Depth = 0;
  std::string Position;  // "3", "3.2": numbered as validation numbers its failures
};

class TEditorDocument {
 public:
  explicit TEditorDocument(host::THost& host) : host_(host) {}

  // Throws host::EProjectError: the file and what failed, or the line and name at fault.
  void Open(const std::string& path);
  void NewProject();
  void Save(const std::string& path);

  host::TProject* Project() const { return project_.get(); }
  const std::string& Path() const { return path_; }
  bool Modified() const { return modified_; }
  void SetModified() { modified_ = true; }

  // The whole tree of actions as rows (the rows below take their numbers from it).
  std::vector<TActionRow> Rows() const;
  // Inserts after `row` among its siblings (at the end of the top level when there is no such
  // row), bound to the project; returns the new row. A new FTP connection gets a name, and a
  // new action on a connection the nearest connection above it.
  int InsertAfter(int row, std::unique_ptr<host::TMxAction> action);
  // Inserts as the last child of the flow-control action in `row`; -1 when it holds none.
  int InsertChild(int row, std::unique_ptr<host::TMxAction> action);
  // Removes the action with its children; false when the row does not exist.
  bool RemoveAction(int row);
  // Swaps the action, children and all, with its sibling `delta` places away; returns its new
  // row, or -1 at either end of its siblings.
  int MoveAction(int row, int delta);

  // The names the page combos offer: the FTP connections the project opens, and the variables
  // it declares or sets, each once (case-insensitive), in project order.
  std::vector<std::string> ConnectionNames() const;
  std::vector<std::string> VariableNames() const;

 private:
  int Insert(TActionList& siblings, std::size_t at, std::unique_ptr<host::TMxAction> action);
  void GiveConnectionName(host::TMxAction& added, const std::vector<TActionRow>& rows, int row);

  host::THost& host_;
  std::unique_ptr<host::TProject> project_;
  std::string path_;
  std::string loadedText_;  // the file as last read or written
  bool modified_ = false;
};

}  // namespace editor
