#include "host/MxStateStore.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <pugixml.hpp>
#include <sstream>

#include "host/MxFileInfo.h"
#include "rtl/Exception.h"

namespace host {

namespace {

namespace fs = std::filesystem;

// Calls fn with each action of the tree and its position ("3", "3.1"), in project order.
void ForEachAction(std::vector<std::unique_ptr<TMxAction>>& actions, const std::string& parent,
                   const std::function<void(TMxAction&, const std::string&)>& fn) {
  for (std::size_t i = 0; i < actions.size(); ++i) {
    const std::string position = (parent.empty() ? "" : parent + ".") + std::to_string(i + 1);
    fn(*actions[i], position);
    ForEachAction(actions[i]->ChildActions(), position, fn);
  }
}

std::vector<const TPropInfo*> LearnedProperties(const TMxAction& action) {
  std::vector<const TPropInfo*> out;
  for (const TPropInfo& p : action.GetProperties())
    if (p.Learned && p.Get && p.Set) out.push_back(&p);
  return out;
}

// FNV-1a: a short, stable name for a project path.
std::uint64_t PathHash(const std::string& s) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace

std::string TStateStore::DefaultDirectory() {
  // A relative XDG_STATE_HOME is invalid by its own rules and is ignored.
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/quillon";
  return TFileInfo::HomeDirectory() + "/.local/state/quillon";
}

TStateStore::TStateStore(const std::string& directory, const std::string& projectPath) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(projectPath), ec);
  project_ = ec ? fs::absolute(projectPath).lexically_normal().string() : p.string();
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(PathHash(project_)));
  file_ = (fs::path(directory) / (fs::path(project_).filename().string() + "-" + hash + ".xml")).string();
}

std::vector<std::string> TStateStore::Apply(TProject& project) {
  warning_.clear();
  projectValues_.clear();
  ForEachAction(project.Actions, "", [&](TMxAction& a, const std::string& position) {
    for (const TPropInfo* p : LearnedProperties(a)) projectValues_[position][p->Name] = p->Get(a);
  });

  std::vector<std::string> used;
  std::ifstream in(file_, std::ios::binary);
  if (!in) return used;  // nothing stored yet
  std::ostringstream text;
  text << in.rdbuf();
  const std::string data = std::move(text).str();
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_buffer(data.data(), data.size());
  const pugi::xml_node root = doc.child("state");
  if (!parsed || !root) {
    warning_ = "state file " + file_ + " cannot be read (" + (parsed ? "no <state> element" : parsed.description()) +
               "); starting without the stored values";
    return used;
  }
  // Another project whose path has the same name in the store: not ours.
  if (root.attribute("project").as_string() != project_) return used;

  std::map<std::string, pugi::xml_node> stored;
  for (pugi::xml_node n : root.children("action")) stored[n.attribute("position").as_string()] = n;
  ForEachAction(project.Actions, "", [&](TMxAction& a, const std::string& position) {
    const auto it = stored.find(position);
    if (it == stored.end() || a.ClassName() != it->second.attribute("class").as_string()) return;
    for (const TPropInfo* p : LearnedProperties(a)) {
      const pugi::xml_node n = it->second.find_child_by_attribute("property", "name", p->Name.c_str());
      if (!n) continue;
      const std::string& inProject = projectValues_[position][p->Name];
      // The project changed this value since it was stored: the project's wins.
      if (inProject != n.attribute("project").as_string()) continue;
      const std::string value = n.text().as_string();
      if (value == inProject) continue;
      try {
        p->Set(a, value);
      } catch (const std::exception&) {
        continue;  // a value the property no longer takes
      }
      used.push_back("Using the stored " + p->Name + " = " + value + " of " + a.GetFormattedDescription() +
                     " (action " + position + ") from " + file_);
    }
  });
  return used;
}

void TStateStore::Save(TProject& project) {
  pugi::xml_document doc;
  auto decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  pugi::xml_node root = doc.append_child("state");
  root.append_attribute("project") = project_.c_str();
  ForEachAction(project.Actions, "", [&](TMxAction& a, const std::string& position) {
    const auto learned = LearnedProperties(a);
    if (learned.empty()) return;
    pugi::xml_node n = root.append_child("action");
    n.append_attribute("position") = position.c_str();
    n.append_attribute("class") = a.ClassName().c_str();
    const auto known = projectValues_.find(position);
    for (const TPropInfo* p : learned) {
      pugi::xml_node v = n.append_child("property");
      v.append_attribute("name") = p->Name.c_str();
      const std::string current = p->Get(a);
      std::string inProject = current;
      if (known != projectValues_.end())
        if (const auto it = known->second.find(p->Name); it != known->second.end()) inProject = it->second;
      v.append_attribute("project") = inProject.c_str();
      v.text().set(current.c_str());
    }
  });
  // A project whose actions learn nothing leaves no file behind.
  if (!root.child("action")) return;
  std::ostringstream out;
  doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  TFileInfo::WriteFileAtomic(file_, std::move(out).str(), "the state file");
}

}  // namespace host
