// The download action: the local name, the resume-or-overwrite choice by sizes, the transfer
// with progress, and what a failed transfer leaves behind.
#include "ftp/MxFTPDownloadFileAction.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "rtl/SysUtils.h"

namespace mx {

namespace {

// The size of a local file; none when there is no such file.
std::optional<std::int64_t> LocalSize(const std::string& path) {
  const std::int64_t size = rtl::FileSize(path);
  return size < 0 ? std::nullopt : std::optional<std::int64_t>(size);
}

std::optional<std::string> RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  if (!::realpath(path.c_str(), buffer)) return std::nullopt;
  return std::string(buffer);
}

bool IsBelow(const std::string& path, const std::string& dir) {
  if (dir == "/") return true;
  return path == dir ||
         (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/');
}

}  // namespace

std::string FTPDownloadLocalPath(const std::string& dir, const std::string& name) {
  const auto refuse = [&](const std::string& why) {
    return rtl::Exception("Refusing the local name \"" + name + "\": " + why);
  };
  std::string relative = name;
  for (char& c : relative)
    if (c == '\\') c = '/';
  if (relative.empty() || relative.back() == '/') throw refuse("it names no file");
  if (relative.front() == '/') throw refuse("an absolute path would leave the download directory");
  std::string joined;
  std::size_t pos = 0;
  while (pos <= relative.size()) {
    std::size_t end = relative.find('/', pos);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") throw refuse("\"..\" would leave the download directory");
    if (!joined.empty()) joined += '/';
    joined += part;
  }
  if (joined.empty() || relative.ends_with("/.") || relative == ".") throw refuse("it names no file");

  std::string path = rtl::IncludeTrailingPathDelimiter(dir) + joined;
  // A folder on the way may be a link elsewhere: where it really leads must stay below the
  // download directory. (A folder that does not exist fails when the file is opened.)
  const std::string parent = path.substr(0, path.rfind('/'));
  const auto realDir = RealPath(dir);
  const auto realParent = RealPath(parent.empty() ? "/" : parent);
  if (realDir && realParent && !IsBelow(*realParent, *realDir))
    throw refuse("its folder leads outside the download directory " + dir);
  return path;
}

void TFTPDownloadFileAction::DefineProperties(host::TPropTable& t) {
  TFTPBaseAction::DefineProperties(t);
  using A = TFTPDownloadFileAction;
  host::TPropBuilder<A>(t)
      .String("FileName", &A::GetFileName, &A::SetFileName)
      .Boolean("AllowResume", &A::GetAllowResume, &A::SetAllowResume, false)
      .Boolean("AllowOverwrite", &A::GetAllowOverwrite, &A::SetAllowOverwrite, false)
      .String("DownloadDir", &A::GetDownloadDir, &A::SetDownloadDir)
      .String("DownloadFileName", &A::GetDownloadFileName, &A::SetDownloadFileName)
      .Boolean("UseFileName", &A::GetUseFileName, &A::SetUseFileName, false);
}

bool TFTPDownloadFileAction::DoFTPOperation(IFTPConnectionObject& session) {
  if (Stopped()) return false;
  std::string remote, dir, local;
  if (!TryExpandExpression("Remote filename", FFileName, remote, true)) return false;
  if (!TryExpandExpression("Download directory", FDownloadDir, dir, true)) return false;
  if (FUseFileName)
    local = remote;
  else if (!TryExpandExpression("Local filename", FDownloadFileName, local, true))
    return false;

  FProgress.Reset();
  std::string localPath;
  try {
    // Before anything touches the disk or the network.
    localPath = FTPDownloadLocalPath(dir, local);
    return Download(session, remote, localPath);
  } catch (const std::exception& e) {
    ReportFailure(k_ftp_download_failed, e);
    if (FProgress.Begun()) {
      if (const auto kept = LocalSize(localPath))
        SendMessage(k_ftp_download_kept_partial + localPath + " (" + std::to_string(*kept) + " bytes)",
                    host::stWarning);
    }
    return false;
  }
}

bool TFTPDownloadFileAction::Download(IFTPConnectionObject& session, const std::string& remote,
                                      const std::string& localPath) {
  // The size just read stands for the server's file in every decision below (nothing else
  // happened on the session in between).
  const std::int64_t remoteSize = session.GetFileSize(remote);
  FProgress.SetExpected(remoteSize);
  bool resume = FAllowResume;
  bool overwrite = FAllowOverwrite;
  const bool ascii = session.GetTransferType() == inet::ftASCII;
  const auto localSize = LocalSize(localPath);
  if (resume && overwrite && localSize) {
    if (remoteSize > *localSize && !(ascii && *localSize > 0)) {
      SendMessage(k_ftp_download_both_resume, host::stInformation);
      overwrite = false;
    } else if (remoteSize > *localSize) {
      SendMessage(k_ftp_download_ascii_restart, host::stInformation);
      resume = false;
    } else {
      SendMessage(k_ftp_download_both_overwrite, host::stInformation);
      resume = false;
    }
  }
  // More than the server has cannot be a beginning of its file: a resume would keep it as it
  // is and call it complete.
  if (resume && localSize && remoteSize >= 0 && *localSize > remoteSize)
    throw rtl::Exception("Cannot resume " + localPath + ": it holds " + std::to_string(*localSize) +
                         " bytes, more than the server's " + std::to_string(remoteSize));

  const inet::TWorkEvents events = FProgress.Events();
  session.SetOnWorkBegin(events.OnWorkBegin);
  session.SetOnWork(events.OnWork);
  session.SetOnWorkEnd(events.OnWorkEnd);
  struct TRemoveHandlers {
    IFTPConnectionObject& Session;
    ~TRemoveHandlers() {
      Session.SetOnWorkBegin(nullptr);
      Session.SetOnWork(nullptr);
      Session.SetOnWorkEnd(nullptr);
    }
  } removeHandlers{session};
  session.DownloadFile(remote, localPath, overwrite, resume);

  // A transfer the server called complete must have brought the whole file (a binary one
  // byte for byte); a short one stays for a resume rather than pass for the file.
  const auto got = LocalSize(localPath).value_or(0);
  if (!ascii && remoteSize > 0 && got < remoteSize)
    throw rtl::Exception("The transfer of " + remote + " ended early: " + localPath + " holds " +
                         std::to_string(got) + " of " + std::to_string(remoteSize) + " bytes");
  SendMessage("File Downloaded : " + std::to_string(FProgress.Count()) + " bytes", host::stSuccess);
  return true;
}

}  // namespace mx
