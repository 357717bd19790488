#include "host/MxProject.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <strings.h>
#include <unistd.h>

#include <pugixml.hpp>

#include "host/MxScripting.h"
#include "host/MxServices.h"
#include "rtl/SysUtils.h"

namespace host {

// Reports errors with the file name and the line of the node at fault.
class TProjectLoader {
 public:
  TProjectLoader(const std::string& source, const std::string& text, THost& host, TProject& project)
      : source_(source), text_(text), host_(host), project_(project) {
    for (std::size_t i = 0; i < text_.size(); ++i)
      if (text_[i] == '\n') newlines_.push_back(i);
  }

  [[noreturn]] void Fail(const pugi::xml_node& node, const std::string& message) const {
    throw EProjectError(source_ + ":" + std::to_string(LineOf(node)) + ": " + message);
  }

  int LineOf(const pugi::xml_node& node) const { return LineAtOffset(node.offset_debug()); }
  // Every property asks for its line: a search in the line starts keeps a large project's load
  // linear instead of counting from the top of the file each time.
  int LineAtOffset(ptrdiff_t off) const {
    if (off < 0 || static_cast<size_t>(off) > text_.size()) return 0;
    const auto before = std::lower_bound(newlines_.begin(), newlines_.end(), static_cast<std::size_t>(off));
    return 1 + static_cast<int>(before - newlines_.begin());
  }

  void LoadActions(const pugi::xml_node& parent, std::vector<std::unique_ptr<TMxAction>>& into) {
    for (pugi::xml_node n : parent.children()) {
      if (n.type() != pugi::node_element) continue;
      if (!rtl::SameText(n.name(), "action")) Fail(n, "unexpected element <" + std::string(n.name()) + "> in <actions>");
      into.push_back(LoadAction(n));
    }
  }

  std::unique_ptr<TMxAction> LoadAction(const pugi::xml_node& n) {
    const char* cls = n.attribute("class").value();
    if (!*cls) Fail(n, "an <action> without a class attribute");
    std::unique_ptr<TMxAction> action = host_.Actions().CreateAction(cls);
    if (!action) Fail(n, "unknown action class \"" + std::string(cls) + "\"");
    action->SetContext(&project_.Context());
    // The host's initialisation comes before the properties and children are loaded.
    action->Initialise();
    if (pugi::xml_attribute en = n.attribute("enabled")) {
      try {
        action->SetEnabled(TextToBool(en.value(), "enabled"));
      } catch (const EPropertyError& e) {
        Fail(n, e.what());
      }
    }
    LoadBody(n, *action, action.get());
    action->Loaded();
    project_.actionLines_[action.get()] = LineOf(n);
    return action;
  }

  // Properties, child objects, scripts and child actions of one persisted object.
  void LoadBody(const pugi::xml_node& n, TNbXMLObject& obj, TMxAction* action) {
    // A second value for one property would silently win over the first.
    std::vector<std::pair<std::string, int>> seen;
    for (pugi::xml_node c : n.children()) {
      if (c.type() != pugi::node_element) continue;
      if (rtl::SameText(c.name(), "property")) {
        const std::string name = c.attribute("name").value();
        for (const auto& [earlier, line] : seen)
          if (rtl::SameText(earlier, name))
            Fail(c, "property \"" + name + "\" of " + obj.ClassName() + " is given twice (first on line " +
                        std::to_string(line) + ")");
        seen.emplace_back(name, LineOf(c));
        LoadProperty(c, obj);
      } else if (rtl::SameText(c.name(), "child")) {
        LoadChild(c, obj);
      } else if (rtl::SameText(c.name(), "script") && action) {
        const char* name = c.attribute("name").value();
        TScript* script = action->GetScriptByName(name);
        if (!script) Fail(c, obj.ClassName() + " has no script event \"" + name + "\"");
        const char* lang = c.attribute("language").value();
        if (*lang && !rtl::SameText(lang, "lua")) Fail(c, "unsupported script language \"" + std::string(lang) + "\"");
        script->Text = c.child_value();
        // The text starts where its node does: a script's line 1 is on that file line.
        pugi::xml_node text = c.first_child();
        project_.scriptLines_[script] = text ? LineOf(text) : LineOf(c);
      } else if (rtl::SameText(c.name(), "actions") && action) {
        LoadActions(c, action->ChildActions());
      } else {
        Fail(c, "unexpected element <" + std::string(c.name()) + "> in " + obj.ClassName());
      }
    }
  }

  void LoadProperty(const pugi::xml_node& c, TNbXMLObject& obj) {
    const char* name = c.attribute("name").value();
    const TPropInfo* p = obj.GetProperties().Find(name);
    if (!p) Fail(c, "unknown property \"" + std::string(name) + "\" of " + obj.ClassName());
    // What a class never stores (clear passwords above all) is not taken from a file either.
    if (p->Secret && !p->Stored)
      Fail(c, "property \"" + p->Name + "\" of " + obj.ClassName() +
                  " is a password, never stored in clear in a project file (store it with `quillon secret`)");
    if (p->ReadOnly())
      Fail(c, "property \"" + p->Name + "\" of " + obj.ClassName() + " is read-only: it shows a value the " +
                  obj.ClassName() + " works out and cannot be set");
    if (!p->Stored && p->Kind != TPropKind::Object)
      Fail(c, "property \"" + p->Name + "\" of " + obj.ClassName() + " is never stored in a project file");
    try {
      switch (p->Kind) {
        case TPropKind::StringList: {
          rtl::TStringList* list = p->List(obj);
          list->Clear();
          bool items = false;
          for (pugi::xml_node item : c.children("item")) {
            list->Add(item.child_value());
            items = true;
          }
          if (!items && *c.child_value()) list->SetText(c.child_value());
          break;
        }
        case TPropKind::Object:
          Fail(c, "property \"" + p->Name + "\" of " + obj.ClassName() + " is written as a <child> element");
        default:
          p->Set(obj, c.child_value());
      }
    } catch (const EPropertyError& e) {
      Fail(c, e.what());
    } catch (const EProjectError&) {
      throw;
    } catch (const std::exception& e) {
      Fail(c, "property \"" + p->Name + "\": " + e.what());
    }
  }

  void LoadChild(const pugi::xml_node& c, TNbXMLObject& parent) {
    const char* cls = c.attribute("class").value();
    const TClassRef* ref = host_.XMLClasses().Find(cls);
    if (!ref) Fail(c, "unknown child class \"" + std::string(cls) + "\"");
    std::unique_ptr<TObject> made = ref->Create();
    auto* child = dynamic_cast<TNbXMLObject*>(made.get());
    if (!child) Fail(c, "class \"" + std::string(cls) + "\" cannot be persisted");
    made.release();
    std::unique_ptr<TNbXMLObject> owned(child);
    LoadBody(c, *owned, nullptr);
    owned->Loaded();
    if (std::string why = parent.ChildRefusal(*owned); !why.empty()) Fail(c, why);
    if (!parent.AddChildObject(std::move(owned)))
      Fail(c, parent.ClassName() + " does not take a child of class \"" + cls + "\"");
  }

 private:
  const std::string& source_;
  const std::string& text_;
  std::vector<std::size_t> newlines_;  // offsets of the line breaks, ascending
  THost& host_;
  TProject& project_;
};

namespace {

void SaveBody(pugi::xml_node n, TNbXMLObject& obj, TMxAction* action);

void SaveActions(pugi::xml_node parent, const std::vector<std::unique_ptr<TMxAction>>& actions) {
  for (const auto& a : actions) {
    pugi::xml_node n = parent.append_child("action");
    n.append_attribute("class") = a->ClassName().c_str();
    n.append_attribute("enabled") = a->GetEnabled() ? "true" : "false";
    SaveBody(n, *a, a.get());
  }
}

void SaveBody(pugi::xml_node n, TNbXMLObject& obj, TMxAction* action) {
  for (const TPropInfo& p : obj.GetProperties()) {
    if (!p.Stored || p.Kind == TPropKind::Object) continue;
    pugi::xml_node pn = n.append_child("property");
    pn.append_attribute("name") = p.Name.c_str();
    if (p.Kind == TPropKind::StringList) {
      for (const std::string& line : *p.List(obj)) pn.append_child("item").text() = line.c_str();
    } else if (p.Get) {
      std::string v = p.Get(obj);
      if (!v.empty()) pn.text() = v.c_str();
    }
  }
  obj.GetChildren([&n](TNbXMLObject& child) {
    pugi::xml_node cn = n.append_child("child");
    cn.append_attribute("class") = child.ClassName().c_str();
    SaveBody(cn, child, nullptr);
  });
  if (action) {
    for (const auto& s : action->Scripts().Scripts()) {
      if (!s->HasContent()) continue;
      pugi::xml_node sn = n.append_child("script");
      sn.append_attribute("name") = s->Name.c_str();
      sn.append_attribute("language") = s->Language.c_str();
      sn.text() = s->Text.c_str();
    }
    if (!action->ChildActions().empty() || action->GetIsFlowControlAction())
      SaveActions(n.append_child("actions"), action->ChildActions());
  }
}

}  // namespace

TProject::TProject() : context_(std::make_unique<TProjectContext>()) {}

TProject::~TProject() {
  // Actions go first: their destructors unregister what they put into the context.
  Actions.clear();
}

std::string TProject::ReadFile(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    throw EProjectError(path + ": is a directory, not a project file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EProjectError(path + ": cannot open the project file");
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) throw EProjectError(path + ": cannot read the project file");
  return ss.str();
}

std::unique_ptr<TProject> TProject::LoadFromFile(const std::string& path, THost& host) {
  return LoadFromString(ReadFile(path), path, host);
}

std::unique_ptr<TProject> TProject::LoadFromString(const std::string& xml, const std::string& sourceName,
                                                   THost& host) {
  auto project = std::make_unique<TProject>();
  project->sourceName_ = sourceName;
  TProjectLoader loader(sourceName, xml, host, *project);
  pugi::xml_document doc;
  pugi::xml_parse_result r =
      doc.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
  if (!r)
    throw EProjectError(sourceName + ":" + std::to_string(loader.LineAtOffset(r.offset)) +
                        ": not a valid project file: " + r.description());
  pugi::xml_node root = doc.document_element();
  if (!root || !rtl::SameText(root.name(), "project"))
    throw EProjectError(sourceName + ":" + std::to_string(root ? loader.LineOf(root) : 1) +
                        ": not a project file (the root element is <" + std::string(root ? root.name() : "") +
                        ">, not <project>)");
  project->Name = root.attribute("name").value();
  for (pugi::xml_node c : root.children()) {
    if (c.type() != pugi::node_element) continue;
    if (rtl::SameText(c.name(), "variables")) {
      for (pugi::xml_node v : c.children()) {
        if (v.type() != pugi::node_element) continue;
        if (!rtl::SameText(v.name(), "variable") || !*v.attribute("name").value())
          loader.Fail(v, "expected <variable name=\"...\"> in <variables>");
        project->Variables.emplace_back(v.attribute("name").value(), v.child_value());
      }
    } else if (rtl::SameText(c.name(), "actions")) {
      loader.LoadActions(c, project->Actions);
    } else {
      loader.Fail(c, "unexpected element <" + std::string(c.name()) + "> in <project>");
    }
  }
  return project;
}

std::string TProject::SaveToString() const {
  pugi::xml_document doc;
  pugi::xml_node decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  pugi::xml_node root = doc.append_child("project");
  root.append_attribute("name") = Name.c_str();
  if (!Variables.empty()) {
    pugi::xml_node vars = root.append_child("variables");
    for (const auto& [name, value] : Variables) {
      pugi::xml_node v = vars.append_child("variable");
      v.append_attribute("name") = name.c_str();
      v.text() = value.c_str();
    }
  }
  SaveActions(root.append_child("actions"), Actions);
  std::ostringstream out;
  doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  // A reader turns a raw CR LF into LF, so carriage returns inside values (the writer emits
  // none of its own) are written as character references to survive the round trip.
  std::string text = out.str();
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '\r')
      escaped += "&#13;";
    else
      escaped.push_back(c);
  }
  return escaped;
}

void TProject::SaveToFile(const std::string& path) const {
  WriteFile(path, SaveToString());
}

void TProject::WriteFile(const std::string& path, const std::string& text) {
  namespace fs = std::filesystem;
  fs::path target(path);
  fs::path tmp = target;
  tmp += ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::error_code ec;
      fs::remove(tmp, ec);
      throw rtl::Exception(path + ": cannot write the project file");
    }
  }
  std::error_code ec;
  fs::rename(tmp, target, ec);
  if (ec) {
    fs::remove(tmp, ec);
    throw rtl::Exception(path + ": cannot write the project file: " + ec.message());
  }
}

namespace {
// Child actions built before their parent joins a project must log and see variables there too.
void BindToContext(TMxAction& action, TProjectContext* context) {
  action.SetContext(context);
  for (auto& child : action.ChildActions()) BindToContext(*child, context);
}
}  // namespace

TMxAction& TProject::AddAction(std::unique_ptr<TMxAction> action) {
  BindToContext(*action, context_.get());
  Actions.push_back(std::move(action));
  return *Actions.back();
}

void TProject::ApplyVariables() {
  for (const auto& [name, value] : Variables) context_->SetVariable(name, rtl::Variant(value));
}

}  // namespace host
