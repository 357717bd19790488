#pragma once
// A project: variables and a tree of actions, loaded from and saved to the project file.
//
//   <project name="nightly">
//     <variables><variable name="SITE">ftp.example.org</variable></variables>
//     <actions>
//       <action class="TLogMessageAction" enabled="true">
//         <property name="Message">Hello %SITE%</property>
//         <child class="...">...</child>            persisted child objects
//         <script name="OnSend" language="lua">...</script>
//         <actions>...</actions>                    child actions (flow control)
//       </action>
//     </actions>
//   </project>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/MxAction.h"
#include "rtl/Exception.h"

namespace host {

class THost;

// A project file that cannot be loaded; the message names the file, the line and the name.
class EProjectError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

class TProject {
 public:
  TProject();
  ~TProject();

  std::string Name;
  // Variables as declared in the file, in order; the run starts with them.
  std::vector<std::pair<std::string, std::string>> Variables;
  std::vector<std::unique_ptr<TMxAction>> Actions;

  TProjectContext& Context() { return *context_; }

  // Loads with the action and child classes registered with the host; throws EProjectError.
  static std::unique_ptr<TProject> LoadFromFile(const std::string& path, THost& host);
  static std::unique_ptr<TProject> LoadFromString(const std::string& xml, const std::string& sourceName,
                                                  THost& host);
  std::string SaveToString() const;
  // Writes atomically (a temporary file beside the target, then a rename).
  void SaveToFile(const std::string& path) const;

  // The text of a project file, and a project text written the way SaveToFile writes it: for a
  // caller that keeps the text as well (the editor writes back an unedited file byte for byte).
  // Both throw with the path and what failed.
  static std::string ReadFile(const std::string& path);
  static void WriteFile(const std::string& path, const std::string& text);

  // Adds an action (created elsewhere) at the end of the top level, bound to this project with
  // its child actions.
  TMxAction& AddAction(std::unique_ptr<TMxAction> action);

  // Sets the declared variables into the context (the start of a run).
  void ApplyVariables();

  // Where the loader found an action, and the file line of a script's first line: what a
  // validation error points at. The source name, and 0 for what was built in code.
  const std::string& SourceName() const { return sourceName_; }
  int LineOf(const TMxAction& action) const { return Find(actionLines_, &action); }
  int LineOf(const TScript& script) const { return Find(scriptLines_, &script); }

 private:
  friend class TProjectLoader;
  template <typename T>
  static int Find(const std::unordered_map<const T*, int>& lines, const T* key) {
    auto it = lines.find(key);
    return it == lines.end() ? 0 : it->second;
  }

  std::unique_ptr<TProjectContext> context_;
  std::string sourceName_;
  std::unordered_map<const TMxAction*, int> actionLines_;
  std::unordered_map<const TScript*, int> scriptLines_;
};

}  // namespace host
