#include "host/MxScripting.h"

#include <lua.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

#include "host/MxServices.h"
#include "rtl/SysUtils.h"

namespace host {

using rtl::SameText;

namespace {

std::string FormatScriptError(const std::string& scriptName, int line, const std::string& detail) {
  std::string text = "Error in script " + scriptName;
  if (line > 0) text += " at line " + std::to_string(line);
  return text + ": " + detail;
}

// ---------------------------------------------------------------------------------------------
// Lua side. Lua is built as C++ here, so lua_error throws and destructors of the C++ frames it
// crosses run; C++ exceptions, on the other hand, must not reach Lua, which would swallow them
// as an unknown status. Every C function is therefore wrapped in Guarded.

constexpr const char* k_handle_meta = "quillon.object";
constexpr int k_hook_count = 10000;

struct TObjectHandle {
  rtl::Variant::ObjectRef Ref;
  IScriptObject* Script = nullptr;  // Ref seen as a scriptable object, when it is one
};

struct TRunContext {
  const TCoreScriptingService* Service = nullptr;
  IScriptHost* Host = nullptr;
  std::stop_token Stop;
  const TScript* Script = nullptr;
  std::string ChunkName;  // "=" + script name: Lua then names positions "Name:line:"
  std::vector<rtl::Variant> ParamsOut;
  rtl::Variant ResultOut;
  int ErrorLine = 0;
  bool Stopped = false;
};

TRunContext& Context(lua_State* L) {
  return **static_cast<TRunContext**>(lua_getextraspace(L));
}

// Raises a Lua error carrying the position of the calling script line.
[[noreturn]] void RaiseError(lua_State* L, const std::string& message) {
  luaL_where(L, 1);
  lua_pushlstring(L, message.data(), message.size());
  lua_concat(L, 2);
  lua_error(L);
  std::terminate();  // lua_error does not return
}

template <lua_CFunction F>
int Guarded(lua_State* L) {
  std::string message;
  try {
    return F(L);
  } catch (const std::exception& e) {
    message = e.what();
  }
  RaiseError(L, message.empty() ? std::string("unknown error") : message);
}

void PushObject(lua_State* L, const rtl::Variant::ObjectRef& ref) {
  if (!ref) {
    lua_pushnil(L);
    return;
  }
  void* memory = lua_newuserdatauv(L, sizeof(TObjectHandle), 0);
  new (memory) TObjectHandle{ref, dynamic_cast<IScriptObject*>(ref.get())};
  luaL_setmetatable(L, k_handle_meta);
}

void PushVariant(lua_State* L, const rtl::Variant& v) {
  const auto& raw = v.Raw();
  switch (v.GetKind()) {
    case rtl::Variant::Kind::Empty:
      lua_pushnil(L);
      break;
    case rtl::Variant::Kind::Boolean:
      lua_pushboolean(L, std::get<bool>(raw));
      break;
    case rtl::Variant::Kind::Integer:
      lua_pushinteger(L, std::get<std::int64_t>(raw));
      break;
    case rtl::Variant::Kind::Double:
      lua_pushnumber(L, std::get<double>(raw));
      break;
    case rtl::Variant::Kind::String: {
      const auto& s = std::get<std::string>(raw);
      lua_pushlstring(L, s.data(), s.size());
      break;
    }
    case rtl::Variant::Kind::Object:
      PushObject(L, std::get<rtl::Variant::ObjectRef>(raw));
      break;
  }
}

// False for values a Variant cannot hold (tables, functions, foreign userdata, threads).
bool ToVariant(lua_State* L, int index, rtl::Variant& out) {
  switch (lua_type(L, index)) {
    case LUA_TNONE:
    case LUA_TNIL:
      out = rtl::Variant();
      return true;
    case LUA_TBOOLEAN:
      out = rtl::Variant(lua_toboolean(L, index) != 0);
      return true;
    case LUA_TNUMBER: {
      if (lua_isinteger(L, index)) {
        out = rtl::Variant(static_cast<std::int64_t>(lua_tointeger(L, index)));
        return true;
      }
      // Scripts compute 10 / 2 as 5.0; hosts expect the integer they would have written.
      double d = lua_tonumber(L, index);
      if (std::isfinite(d) && std::floor(d) == d && d >= -0x1p63 && d < 0x1p63) {
        out = rtl::Variant(static_cast<std::int64_t>(d));
      } else {
        out = rtl::Variant(d);
      }
      return true;
    }
    case LUA_TSTRING: {
      std::size_t n = 0;
      const char* s = lua_tolstring(L, index, &n);
      out = rtl::Variant(std::string(s, n));
      return true;
    }
    case LUA_TUSERDATA: {
      auto* h = static_cast<TObjectHandle*>(luaL_testudata(L, index, k_handle_meta));
      if (!h || !h->Ref) return false;
      out = rtl::Variant(h->Ref);
      return true;
    }
    default:
      return false;
  }
}

std::string ClassNameOf(const TObjectHandle& h) {
  if (h.Script) {
    auto names = h.Script->ScriptClassNames();
    if (!names.empty()) return names.front();
  }
  return "object";
}

TObjectHandle& LiveHandle(lua_State* L, int index) {
  auto* h = static_cast<TObjectHandle*>(luaL_checkudata(L, index, k_handle_meta));
  if (!h->Ref) throw rtl::Exception("Object handle already released");
  return *h;
}

int HandleGc(lua_State* L) {
  // Kept as an empty handle rather than destroyed: another finaliser of the script may still
  // reach this userdata.
  if (auto* h = static_cast<TObjectHandle*>(luaL_testudata(L, 1, k_handle_meta))) {
    h->Ref.reset();
    h->Script = nullptr;
  }
  return 0;
}

int HandleToString(lua_State* L) {
  std::string name = ClassNameOf(LiveHandle(L, 1));
  lua_pushlstring(L, name.data(), name.size());
  return 1;
}

int HandleEq(lua_State* L) {
  auto* a = static_cast<TObjectHandle*>(luaL_testudata(L, 1, k_handle_meta));
  auto* b = static_cast<TObjectHandle*>(luaL_testudata(L, 2, k_handle_meta));
  lua_pushboolean(L, a && b && a->Ref && a->Ref.get() == b->Ref.get());
  return 1;
}

std::string ArgumentError(lua_State* L, int index, const std::string& method) {
  return std::string("Cannot pass a ") + luaL_typename(L, index) + " to method '" + method + "'";
}

// The closure __index hands out: upvalue 1 is the handle, 2 the resolved method name.
int CallMethod(lua_State* L) {
  auto& h = LiveHandle(L, lua_upvalueindex(1));
  std::string method = lua_tostring(L, lua_upvalueindex(2));
  const int top = lua_gettop(L);
  // obj:Item(0) passes the handle itself first; obj.Item(0) does not.
  const int first = (top >= 1 && lua_rawequal(L, 1, lua_upvalueindex(1))) ? 2 : 1;

  std::vector<rtl::Variant> args;
  rtl::Variant value;
  if (top == first && lua_type(L, first) == LUA_TTABLE) {
    // A lone table is the script's way of passing an array of values.
    const auto n = static_cast<lua_Integer>(lua_rawlen(L, first));
    args.reserve(static_cast<std::size_t>(n));
    for (lua_Integer i = 1; i <= n; ++i) {
      lua_rawgeti(L, first, i);
      if (!ToVariant(L, -1, value)) throw rtl::Exception(ArgumentError(L, -1, method));
      args.push_back(value);
      lua_pop(L, 1);
    }
  } else {
    for (int i = first; i <= top; ++i) {
      if (!ToVariant(L, i, value)) throw rtl::Exception(ArgumentError(L, i, method));
      args.push_back(value);
    }
  }
  if (!h.Script) throw rtl::Exception("Unknown method '" + method + "' of class object");
  auto keepAlive = h.Ref;
  PushVariant(L, h.Script->CallScriptMethod(method, args));
  return 1;
}

int HandleIndex(lua_State* L) {
  auto& h = LiveHandle(L, 1);
  std::string key = luaL_tolstring(L, 2, nullptr);
  lua_pop(L, 1);
  std::vector<std::string> classes;
  if (h.Script) classes = h.Script->ScriptClassNames();
  auto method = Context(L).Service->ResolveMethod(classes, key);
  if (!method) {
    throw rtl::Exception("Unknown method '" + key + "' of class " +
                         (classes.empty() ? std::string("object") : classes.front()));
  }
  lua_pushvalue(L, 1);
  lua_pushlstring(L, method->data(), method->size());
  lua_pushcclosure(L, Guarded<CallMethod>, 2);
  return 1;
}

IScriptHost& RequireHost(lua_State* L, const char* function) {
  IScriptHost* host = Context(L).Host;
  if (!host) throw rtl::Exception(std::string(function) + " is not available: the script has no host");
  return *host;
}

int LuaGetVariable(lua_State* L) {
  std::string name = luaL_checkstring(L, 1);
  PushVariant(L, RequireHost(L, "GetVariable").GetVariable(name));
  return 1;
}

int LuaSetVariable(lua_State* L) {
  std::string name = luaL_checkstring(L, 1);
  rtl::Variant value;
  if (!ToVariant(L, 2, value)) {
    throw rtl::Exception(std::string("Cannot store a ") + luaL_typename(L, 2) + " in variable " + name);
  }
  RequireHost(L, "SetVariable").SetVariable(name, value);
  return 0;
}

int LuaLog(lua_State* L) {
  const auto tag = static_cast<int>(luaL_optinteger(L, 2, 0));
  std::string text = luaL_tolstring(L, 1, nullptr);
  RequireHost(L, "Log").Log(text, tag);
  return 0;
}

// print goes to the action's log rather than into the runner's own output.
int LuaPrint(lua_State* L) {
  const int n = lua_gettop(L);
  std::string text;
  for (int i = 1; i <= n; ++i) {
    if (i > 1) text += '\t';
    std::size_t len = 0;
    const char* s = luaL_tolstring(L, i, &len);
    text.append(s, len);
    lua_pop(L, 1);
  }
  RequireHost(L, "print").Log(text, 0);
  return 0;
}

void StopHook(lua_State* L, lua_Debug*) {
  auto& ctx = Context(L);
  if (!ctx.Stop.stop_requested()) return;
  ctx.Stopped = true;
  // From now on every instruction fails, so a script that catches the error cannot go on.
  lua_sethook(L, StopHook, LUA_MASKCOUNT, 1);
  luaL_where(L, 0);
  lua_pushliteral(L, "stopped by request");
  lua_concat(L, 2);
  lua_error(L);
}

// Turns any error value into text and notes the script line that was running, for errors whose
// text carries no position.
int MessageHandler(lua_State* L) {
  auto& ctx = Context(L);
  if (lua_type(L, 1) != LUA_TSTRING) luaL_tolstring(L, 1, nullptr);
  lua_Debug ar;
  for (int level = 1; lua_getstack(L, level, &ar) != 0; ++level) {
    lua_getinfo(L, "Sl", &ar);
    if (ar.currentline > 0 && ctx.ChunkName == ar.source) {
      ctx.ErrorLine = ar.currentline;
      break;
    }
  }
  return 1;
}

void InstallHandleMetatable(lua_State* L) {
  luaL_newmetatable(L, k_handle_meta);
  const luaL_Reg functions[] = {{"__gc", HandleGc},
                                {"__tostring", Guarded<HandleToString>},
                                {"__eq", HandleEq},
                                {"__index", Guarded<HandleIndex>},
                                {nullptr, nullptr}};
  luaL_setfuncs(L, functions, 0);
  lua_pushliteral(L, "locked");  // scripts may not replace or read the metatable
  lua_setfield(L, -2, "__metatable");
  lua_pop(L, 1);
}

void InstallGlobals(lua_State* L, const TRunContext& ctx) {
  for (const auto& c : ctx.Service->Constants()) {
    PushVariant(L, c.Value);
    lua_setglobal(L, c.Name.c_str());
  }
  // Each value name is a global holding its ordinal; the type's table maps both ways.
  for (const auto& e : ctx.Service->Enumerations()) {
    const int n = static_cast<int>(e.ValueNames.size());
    lua_createtable(L, 0, 2 * n);
    for (int i = 0; i < n; ++i) {
      const std::string& value = e.ValueNames[static_cast<std::size_t>(i)];
      lua_pushinteger(L, i);
      lua_setfield(L, -2, value.c_str());
      lua_pushlstring(L, value.data(), value.size());
      lua_rawseti(L, -2, i);
      lua_pushinteger(L, i);
      lua_setglobal(L, value.c_str());
    }
    lua_setglobal(L, e.TypeName.c_str());
  }
  lua_register(L, "GetVariable", Guarded<LuaGetVariable>);
  lua_register(L, "SetVariable", Guarded<LuaSetVariable>);
  lua_register(L, "Log", Guarded<LuaLog>);
  if (ctx.Host) lua_register(L, "print", Guarded<LuaPrint>);

  const auto& names = ctx.Script->ParamNames();
  for (const auto& name : names) {
    PushVariant(L, ctx.Script->GetParam(name));
    lua_setglobal(L, name.c_str());
  }
}

rtl::Variant ReadGlobal(lua_State* L, const std::string& name) {
  rtl::Variant value;
  lua_getglobal(L, name.c_str());
  if (!ToVariant(L, -1, value)) {
    throw rtl::Exception("Cannot pass a " + std::string(luaL_typename(L, -1)) + " back in " + name);
  }
  lua_pop(L, 1);
  return value;
}

// The whole run happens in one protected call, so that no Lua error (even one while setting up
// or reading back) can reach the panic handler.
int RunDriver(lua_State* L) {
  auto& ctx = Context(L);
  luaL_openlibs(L);
  InstallHandleMetatable(L);
  InstallGlobals(L, ctx);

  const std::string& text = ctx.Script->Text;
  if (luaL_loadbufferx(L, text.data(), text.size(), ctx.ChunkName.c_str(), "t") != LUA_OK) lua_error(L);
  if (ctx.Stop.stop_possible()) lua_sethook(L, StopHook, LUA_MASKCOUNT, k_hook_count);
  lua_call(L, 0, 0);

  for (const auto& name : ctx.Script->ParamNames()) ctx.ParamsOut.push_back(ReadGlobal(L, name));
  ctx.ResultOut = ReadGlobal(L, "Result");
  return 0;
}

struct TLuaCloser {
  void operator()(lua_State* L) const { lua_close(L); }
};

// Splits "Name:12: text" into line and text when the position is in this script.
void SplitPosition(const std::string& scriptName, std::string& message, int& line) {
  const std::string prefix = scriptName + ":";
  if (message.compare(0, prefix.size(), prefix) != 0) return;
  std::size_t pos = prefix.size();
  int value = 0;
  while (pos < message.size() && std::isdigit(static_cast<unsigned char>(message[pos])) &&
         value < 100000000) {
    value = value * 10 + (message[pos] - '0');
    ++pos;
  }
  if (pos == prefix.size() || message.compare(pos, 2, ": ") != 0) return;
  line = value;
  message.erase(0, pos + 2);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

EScriptError::EScriptError(std::string scriptName, int line, std::string detail)
    : rtl::Exception(FormatScriptError(scriptName, line, detail)),
      scriptName_(std::move(scriptName)),
      line_(line),
      detail_(std::move(detail)) {}

void TCoreScriptingService::RegisterConstant(const std::string& name, const rtl::Variant& value) {
  auto it =
      std::find_if(constants_.begin(), constants_.end(), [&](const TConstant& c) { return c.Name == name; });
  if (it != constants_.end()) {
    it->Value = value;
  } else {
    constants_.push_back({name, value});
  }
  RecordRegistration("Scripting", "RegisterConstant", {name, value.AsString()});
}

void TCoreScriptingService::RegisterMethod(const std::string& className, const std::string& method) {
  auto& entry = ClassEntry(className);
  if (std::none_of(entry.Methods.begin(), entry.Methods.end(),
                   [&](const std::string& m) { return SameText(m, method); })) {
    entry.Methods.push_back(method);
  }
  RecordRegistration("Scripting", "RegisterMethod", {className, method});
}

void TCoreScriptingService::RegisterMethodAlias(const std::string& className, const std::string& method,
                                                const std::string& scriptName) {
  auto& aliases = ClassEntry(className).Aliases;
  auto it = std::find_if(aliases.begin(), aliases.end(),
                         [&](const TMethodAlias& a) { return SameText(a.ScriptName, scriptName); });
  if (it != aliases.end()) {
    it->Method = method;
  } else {
    aliases.push_back({method, scriptName});
  }
  RecordRegistration("Scripting", "RegisterMethodAlias", {className, method, scriptName});
}

void TCoreScriptingService::RegisterEnumeration(const std::string& typeName,
                                                const std::vector<std::string>& valueNames) {
  auto it = std::find_if(enumerations_.begin(), enumerations_.end(),
                         [&](const TEnumeration& e) { return e.TypeName == typeName; });
  if (it != enumerations_.end()) {
    it->ValueNames = valueNames;
  } else {
    enumerations_.push_back({typeName, valueNames});
  }
  std::vector<std::string> args{typeName};
  args.insert(args.end(), valueNames.begin(), valueNames.end());
  RecordRegistration("Scripting", "RegisterEnumeration", std::move(args));
}

rtl::Variant TCoreScriptingService::WrapObject(std::shared_ptr<IScriptObject> object) {
  if (!object) return {};
  return rtl::Variant(rtl::Variant::ObjectRef(std::move(object)));
}

rtl::Variant TCoreScriptingService::WrapObject(IScriptObject* object) {
  if (!object) return {};
  // An aliasing pointer without an owner: copies never keep the object alive or delete it.
  return rtl::Variant(
      rtl::Variant::ObjectRef(rtl::Variant::ObjectRef(), static_cast<rtl::IInterface*>(object)));
}

const TCoreScriptingService::TConstant* TCoreScriptingService::FindConstant(const std::string& name) const {
  for (const auto& c : constants_) {
    if (c.Name == name) return &c;
  }
  return nullptr;
}

std::vector<std::string> TCoreScriptingService::MethodClasses() const {
  std::vector<std::string> names;
  for (const auto& c : classes_) names.push_back(c.ClassName);
  return names;
}

std::vector<std::string> TCoreScriptingService::Methods(const std::string& className) const {
  const auto* entry = FindClass(className);
  return entry ? entry->Methods : std::vector<std::string>{};
}

std::vector<TCoreScriptingService::TMethodAlias> TCoreScriptingService::Aliases(
    const std::string& className) const {
  const auto* entry = FindClass(className);
  return entry ? entry->Aliases : std::vector<TMethodAlias>{};
}

std::optional<std::string> TCoreScriptingService::ResolveMethod(const std::vector<std::string>& classNames,
                                                                const std::string& scriptName) const {
  for (const auto& className : classNames) {
    const auto* entry = FindClass(className);
    if (!entry) continue;
    for (const auto& a : entry->Aliases) {
      if (SameText(a.ScriptName, scriptName)) return a.Method;
    }
    for (const auto& m : entry->Methods) {
      if (SameText(m, scriptName)) return m;
    }
  }
  return std::nullopt;
}

TCoreScriptingService::TMethodClass* TCoreScriptingService::FindClass(const std::string& className) {
  for (auto& c : classes_) {
    if (SameText(c.ClassName, className)) return &c;
  }
  return nullptr;
}

const TCoreScriptingService::TMethodClass* TCoreScriptingService::FindClass(
    const std::string& className) const {
  return const_cast<TCoreScriptingService*>(this)->FindClass(className);
}

TCoreScriptingService::TMethodClass& TCoreScriptingService::ClassEntry(const std::string& className) {
  if (auto* entry = FindClass(className)) return *entry;
  classes_.push_back({className, {}, {}});
  return classes_.back();
}

// ---------------------------------------------------------------------------------------------

std::ptrdiff_t TScript::IndexOf(const std::string& name) const {
  for (std::size_t i = 0; i < paramNames_.size(); ++i) {
    if (SameText(paramNames_[i], name)) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

void TScript::DeclareParam(const std::string& name) {
  if (IndexOf(name) >= 0) return;
  paramNames_.push_back(name);
  paramValues_.emplace_back();
}

void TScript::SetParam(const std::string& name, const rtl::Variant& v) {
  auto i = IndexOf(name);
  if (i < 0) {
    paramNames_.push_back(name);
    paramValues_.push_back(v);
  } else {
    paramValues_[static_cast<std::size_t>(i)] = v;
  }
}

rtl::Variant TScript::GetParam(const std::string& name) const {
  auto i = IndexOf(name);
  return i < 0 ? rtl::Variant() : paramValues_[static_cast<std::size_t>(i)];
}

bool TScript::HasContent() const {
  return std::any_of(Text.begin(), Text.end(),
                     [](char c) { return !std::isspace(static_cast<unsigned char>(c)); });
}

TScript& TScriptList::AddScript(const std::string& name) {
  if (auto* existing = GetScriptByName(name)) return *existing;
  scripts_.push_back(std::make_unique<TScript>());
  scripts_.back()->Name = name;
  return *scripts_.back();
}

void TScript::CheckSyntax() const {
  if (!SameText(Language, "lua")) throw EScriptError(Name, 0, "unsupported script language \"" + Language + "\"");
  std::unique_ptr<lua_State, TLuaCloser> state(luaL_newstate());
  if (!state) throw EScriptError(Name, 0, "not enough memory");
  const std::string chunk = "=" + Name;
  // Loading only parses; nothing of the script runs, so no library is needed.
  if (luaL_loadbufferx(state.get(), Text.data(), Text.size(), chunk.c_str(), "t") == LUA_OK) return;
  const char* text = lua_tostring(state.get(), -1);
  std::string message = text ? text : "unknown error";
  int line = 0;
  SplitPosition(Name, message, line);
  throw EScriptError(Name, line, message);
}

TScript* TScriptList::GetScriptByName(const std::string& name) {
  for (auto& s : scripts_) {
    if (SameText(s->Name, name)) return s.get();
  }
  return nullptr;
}

bool TScriptList::ExecuteScript(const std::string& name, rtl::Variant& result, TCoreScriptingService& service,
                                IScriptHost* scriptHost, std::stop_token stop) {
  TScript* script = GetScriptByName(name);
  if (!script || !script->HasContent()) return false;
  if (!SameText(script->Language, "lua")) {
    throw EScriptError(script->Name, 0, "unsupported script language \"" + script->Language + "\"");
  }

  // Declared before the state: closing the state runs finalisers that still reach the context.
  TRunContext ctx;
  ctx.Service = &service;
  ctx.Host = scriptHost;
  ctx.Stop = std::move(stop);
  ctx.Script = script;
  ctx.ChunkName = "=" + script->Name;
  ctx.ParamsOut.reserve(script->ParamNames().size());

  std::unique_ptr<lua_State, TLuaCloser> state(luaL_newstate());
  if (!state) throw EScriptError(script->Name, 0, "not enough memory");
  lua_State* L = state.get();
  *static_cast<TRunContext**>(lua_getextraspace(L)) = &ctx;

  lua_pushcfunction(L, MessageHandler);
  lua_pushcfunction(L, Guarded<RunDriver>);
  if (lua_pcall(L, 0, 0, 1) != LUA_OK) {
    const char* text = lua_tostring(L, -1);
    std::string message = text ? text : "unknown error";
    int line = ctx.ErrorLine;
    SplitPosition(script->Name, message, line);
    if (ctx.Stopped) throw EScriptStopped(script->Name, line, message);
    throw EScriptError(script->Name, line, message);
  }

  for (std::size_t i = 0; i < ctx.ParamsOut.size(); ++i) script->paramValues_[i] = ctx.ParamsOut[i];
  result = ctx.ResultOut;
  return true;
}

}  // namespace host
