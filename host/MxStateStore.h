#pragma once
// The runner's store of learned state: the values of properties an action declares Learned
// (the FTP upload's clock skew), kept between runs outside the project file, so that a run
// never rewrites the project. One file per project under the user's state directory:
//
//   <state project="/home/ann/deploy.xml">
//     <action position="3" class="TFTPUploadFileAction">
//       <property name="ServerClockSkew" project="0">-2</property>
//     </action>
//   </state>
//
// An action is found again by its position in the project's tree ("3", or "3.1" for the first
// child of the third) and its class. A value is used only while the project still holds what
// it held when the value was stored: a project edited (or saved by the editor with newer
// values) since wins.
#include <map>
#include <string>
#include <vector>

#include "host/MxProject.h"

namespace host {

class TStateStore {
 public:
  // $XDG_STATE_HOME/quillon when that is an absolute path, else ~/.local/state/quillon.
  static std::string DefaultDirectory();

  // The store of one project file (its path is made absolute) in a directory.
  TStateStore(const std::string& directory, const std::string& projectPath);

  // The store's file for this project.
  const std::string& FilePath() const { return file_; }
  const std::string& ProjectPath() const { return project_; }

  // Sets the stored values into the project's actions; one line per value used, for the log.
  // A store that cannot be read is ignored (see Warning). Call once, after loading.
  std::vector<std::string> Apply(TProject& project);
  // Writes the learned values of the project's actions atomically (a temporary file beside it,
  // then a rename); nothing when no action learns anything. Throws rtl::Exception naming the
  // file when it cannot.
  void Save(TProject& project);

  // Why the last Apply ignored the store; empty when it did not.
  const std::string& Warning() const { return warning_; }

 private:
  std::string project_;
  std::string file_;
  std::string warning_;
  // The project's own text of each learned value, by position and name, as Apply found it.
  std::map<std::string, std::map<std::string, std::string>> projectValues_;
};

}  // namespace host
