#pragma once
// FTP client (RFC 959, 2389, 2428, 3659): login directly or through the classic FTP proxies,
// passive (EPSV, then PASV, always to the control connection's address) or active (EPRT,
// PORT) data connections, ASCII or binary, directory and file commands, listings parsed into
// TIdFTPListItems, streaming transfers with resume, and a stop from another thread (the stop token).
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "inet/IdFTPList.h"
#include "inet/IdTCPClient.h"
#include "rtl/DateUtils.h"
#include "rtl/StringList.h"

namespace inet {

enum TIdFTPTransferType : int { ftASCII = 0, ftBinary = 1 };

// Numbered as the connect action's pages offer them.
enum TIdFtpProxyType : int {
  fpcmNone = 0,
  fpcmUserSite = 1,        // USER user@host, PASS password (proxy in the middle)
  fpcmSite = 2,            // USER proxyuser, PASS proxypass, SITE host, USER user, PASS password
  fpcmOpen = 3,            // USER proxyuser, PASS proxypass, OPEN host, USER user, PASS password
  fpcmUserPass = 4,        // USER user@proxyuser@host, PASS password@proxypass
  fpcmTransparent = 5,     // USER proxyuser, PASS proxypass, USER user@host, PASS password
  fpcmHttpProxyWithFtp = 6,// HTTP CONNECT host:port through the proxy, then a direct login
  fpcmCustomProxy = 7,     // the CustomProxySteps, with %u %p %h %o %U %P placeholders
};

struct TIdFtpProxySettings {
  std::string Host;
  int Port = 0;
  std::string UserName;
  std::string Password;
  TIdFtpProxyType ProxyType = fpcmNone;
  // For fpcmCustomProxy: one command per entry; %u user, %p password, %h host, %o port,
  // %U proxy user, %P proxy password.
  std::vector<std::string> CustomProxySteps;
};

// Why a non-empty local file cannot be continued by an ASCII download.
std::string AsciiResumeRefusal(const std::string& localFile);

class TIdFTP : public TIdCmdTCPClient {
 public:
  TIdFTP();
  ~TIdFTP() override;

  std::string Username;
  std::string Password;
  std::string Account;  // ACCT when the server asks for it (332)
  bool Passive = false;
  TIdFTPTransferType TransferType = ftBinary;
  TIdFtpProxySettings ProxySettings;

  // Connects (through the proxy when set) and logs in. A refused login raises
  // EIdReplyRFCError with the server's code.
  void Connect() override;
  // QUIT and close; never throws.
  void Disconnect() override;

  void ChangeDir(const std::string& dir);        // CWD
  std::string RetrieveCurrentDir();              // PWD
  void ChangeDirUp();                            // CDUP
  void MakeDir(const std::string& dir);          // MKD
  void RemoveDir(const std::string& dir);        // RMD
  void Delete(const std::string& file);          // DELE
  void Rename(const std::string& from, const std::string& to);  // RNFR + RNTO
  std::int64_t Size(const std::string& file);    // SIZE; -1 when the server has no size
  // MDTM in local time; from the last listing when MDTM is missing; 0 when unknown.
  rtl::TDateTime FileDate(const std::string& file);
  // XCRC over the whole file (start 0, end 0), as the server computes it.
  std::int64_t CRC(const std::string& file);
  void Noop();
  // Raw command; expected reply codes as given ("200" or "200,250"); returns the reply.
  const TIdReply& SendCmdText(const std::string& cmd, const std::string& expectedCodes);

  // LIST (details) or NLST (names only) with an optional mask into `lines`; also parses the
  // listing into DirectoryListing (MLSD when the server offers it and details are asked
  // without a mask).
  void List(rtl::TStringList& lines, const std::string& mask = {}, bool details = true);
  // A detailed listing of the current folder for a walk of the tree: LIST, never MLSD, whose
  // facts some servers take from the target of a link ("type=dir" for a link to a folder).
  // LIST shows a link as a link, and a walk must never enter one.
  void ListForWalk(rtl::TStringList& lines);
  const TIdFTPListItems& DirectoryListing() const { return listing_; }

  // STOR (or APPE) from a local file, streamed, with work events.
  void Put(const std::string& localFile, const std::string& remoteFile, bool append = false);
  // RETR into a local file. Without canOverwrite an existing file is an error; with resume
  // the transfer continues (REST) from the local file's size. A resume in ASCII mode is
  // refused (AsciiResumeRefusal): the local size is not the server's offset there.
  void Get(const std::string& remoteFile, const std::string& localFile, bool canOverwrite = false,
           bool resume = false);

  // Called with each new data connection before it is used (the throttler hooks in here).
  std::function<void(TIdIOHandlerSocket& data)> OnDataChannelCreate;

  // Work events of data transfers are the client's `Work` (inherited).

  // Features of the server (FEAT lines).
  const std::vector<std::string>& Features() const { return features_; }

 protected:
  void DoOnConnected() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  TIdFTPListItems listing_;
  std::vector<std::string> features_;
};

}  // namespace inet
