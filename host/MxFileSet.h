#pragma once
// File sets: a named set of local files (base directory, include masks, recursive) that the
// "Define File Set" action registers for other actions (the FTP upload's file-set mode).
#include <cstdint>
#include <mutex>
#include <string>

#include "host/MxProjectObjects.h"
#include "rtl/StringList.h"

namespace host {

inline constexpr const char* k_file_set_category = "FileSetObject";

// Modes of GetFileListText.
enum TFileListMode : int { flRelativePaths = 0, flFileNames = 1, flFullPaths = 2 };

class IFileSet : public IProjectObject {
 public:
  virtual std::string GetBaseDirectory() = 0;
  // The files of the set, one per entry, joined with the separator.
  virtual std::string GetFileListText(int mode, const std::string& separator) = 0;
  virtual std::int64_t GetTotalSize() = 0;
};

class TFileSetObject final : public IFileSet {
 public:
  TFileSetObject(std::string name, std::string baseDirectory, rtl::TStringList includeMasks, bool recursive);

  std::string Get_Category() override { return k_file_set_category; }
  std::string Get_Name() override;
  void Set_Name(const std::string& name) override;
  void Reset() override {}

  std::string GetBaseDirectory() override { return base_; }
  std::string GetFileListText(int mode, const std::string& separator) override;
  std::int64_t GetTotalSize() override;

  // The matching files now on disk, as paths relative to the base directory, sorted.
  struct TEntry {
    std::string RelativePath;
    std::int64_t Size;
  };
  std::vector<TEntry> Scan() const;

 private:
  bool MatchesHiddenMask(const std::string& name) const;

  std::mutex mu_;
  std::string name_;
  std::string base_;
  rtl::TStringList masks_;
  bool recursive_;
};

}  // namespace host
