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

class TEditorDocument {
 public:
  explicit TEditorDocument(host::THost& host) : host_(host) {}

  // Throws host::EProjectError (file, line and name) or rtl::Exception for an unreadable file.
  void Open(const std::string& path);
  void NewProject();
  void Save(const std::string& path);

  host::TProject* Project() const { return project_.get(); }
  const std::string& Path() const { return path_; }
  bool Modified() const { return modified_; }
  void SetModified() { modified_ = true; }

  // Inserts before `row` (clamped to the end), bound to the project; returns the new row. A new
  // FTP connection gets a name, and a new action on a connection the nearest connection above.
  int InsertAction(int row, std::unique_ptr<host::TMxAction> action);
  // False when the row does not exist.
  bool RemoveAction(int row);
  // Swaps the action with its neighbour `delta` rows away; false at either end.
  bool MoveAction(int row, int delta);

  // The names the page combos offer: the FTP connections the project opens, and the variables
  // it declares or sets, each once (case-insensitive), in project order.
  std::vector<std::string> ConnectionNames() const;
  std::vector<std::string> VariableNames() const;

 private:
  void GiveConnectionName(host::TMxAction& added, int at);

  host::THost& host_;
  std::unique_ptr<host::TProject> project_;
  std::string path_;
  std::string loadedText_;  // the file as last read or written
  bool modified_ = false;
};

}  // namespace editor
