#include "host/MxProjectObjects.h"
#include "rtl/SysUtils.h"

#include <algorithm>
#include <strings.h>

namespace host {

namespace {
}  // namespace

void TProjectObjectService::AddObject(std::shared_ptr<IProjectObject> object) {
  if (!object) return;
  std::lock_guard lock(mu_);
  if (std::find(objects_.begin(), objects_.end(), object) == objects_.end()) objects_.push_back(std::move(object));
}

void TProjectObjectService::RemoveObject(const IProjectObject* object) {
  std::lock_guard lock(mu_);
  std::erase_if(objects_, [object](const auto& o) { return o.get() == object; });
}

std::shared_ptr<IProjectObject> TProjectObjectService::FindObject(const std::string& name,
                                                                  const std::string& category) {
  std::lock_guard lock(mu_);
  for (const auto& o : objects_)
    if (rtl::SameText(o->Get_Category(), category) && rtl::SameText(o->Get_Name(), name)) return o;
  return nullptr;
}

bool TProjectObjectService::ObjectExists(const std::string& name, const std::string& category) {
  return FindObject(name, category) != nullptr;
}

std::shared_ptr<IProjectObject> TProjectObjectService::AcquireObject(const std::string& name,
                                                                     const std::string& category) {
  auto o = FindObject(name, category);
  if (o) {
    std::lock_guard lock(mu_);
    acquired_.push_back(o.get());
  }
  return o;
}

void TProjectObjectService::ReleaseObject(const IProjectObject* object) {
  std::lock_guard lock(mu_);
  auto it = std::find(acquired_.begin(), acquired_.end(), object);
  if (it != acquired_.end()) acquired_.erase(it);
}

std::vector<std::shared_ptr<IProjectObject>> TProjectObjectService::ObjectsOf(const std::string& category) {
  std::lock_guard lock(mu_);
  std::vector<std::shared_ptr<IProjectObject>> out;
  for (const auto& o : objects_)
    if (rtl::SameText(o->Get_Category(), category)) out.push_back(o);
  return out;
}

void TProjectObjectService::ResetAll() {
  std::vector<std::shared_ptr<IProjectObject>> copy;
  {
    std::lock_guard lock(mu_);
    copy = objects_;
  }
  for (auto& o : copy) {
    try {
      o->Reset();
    } catch (...) {
      // A reset that fails leaves nothing to undo; the run is over either way.
    }
  }
}

int TProjectObjectService::OutstandingAcquisitions() const {
  std::lock_guard lock(mu_);
  return static_cast<int>(acquired_.size());
}

}  // namespace host
