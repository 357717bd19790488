#pragma once
// The project object registry: objects shared by name between the actions of a project (FTP
// sessions, file sets), looked up by name and category.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rtl/Interface.h"

namespace host {

class IProjectObject : public virtual rtl::IInterface {
 public:
  virtual std::string Get_Category() = 0;
  virtual std::string Get_Name() = 0;
  virtual void Set_Name(const std::string& name) = 0;
  // The host's reset at the end of a run (an FTP session disconnects).
  virtual void Reset() = 0;
};

class TProjectObjectService {
 public:
  void AddObject(std::shared_ptr<IProjectObject> object);
  void RemoveObject(const IProjectObject* object);
  // Name and category compare case-insensitively; the name is read from the object at each
  // look-up, so a renamed object is found under its new name.
  std::shared_ptr<IProjectObject> FindObject(const std::string& name, const std::string& category);
  bool ObjectExists(const std::string& name, const std::string& category);
  std::shared_ptr<IProjectObject> AcquireObject(const std::string& name, const std::string& category);
  void ReleaseObject(const IProjectObject* object);
  // Objects of one category, in registration order (the editor lists connection names).
  std::vector<std::shared_ptr<IProjectObject>> ObjectsOf(const std::string& category);
  // Resets every registered object (end of a run); failures are swallowed.
  void ResetAll();
  // Acquisitions not yet released (a leak shows as a count above zero after a run).
  int OutstandingAcquisitions() const;

 private:
  mutable std::mutex mu_;
  std::vector<std::shared_ptr<IProjectObject>> objects_;
  std::vector<const IProjectObject*> acquired_;
};

}  // namespace host
