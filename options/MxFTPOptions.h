#pragma once
// Default FTP server settings for the FTP actions.
#include <string>
#include <string_view>
#include <vector>

#include "options/MxInternetOptions.h"

namespace mx {

inline constexpr std::string_view k_ftp_options_name = "FTP Options";
inline constexpr std::string_view k_ftp_options_bitmap = "HINTERNET";

class IMxFTPOptions {
 public:
  virtual ~IMxFTPOptions() = default;
  virtual std::string GetFTPServer() const = 0;
  virtual void SetFTPServer(const std::string& value) = 0;
  virtual std::string GetFTPUser() const = 0;
  virtual void SetFTPUser(const std::string& value) = 0;
  virtual std::string GetFTPPass() const = 0;
  virtual void SetFTPPass(const std::string& value) = 0;
  virtual int GetFTPPort() const = 0;
  virtual void SetFTPPort(int value) = 0;
};

// The FTP group's keys in the option store, in the order they are read and written.
inline const std::vector<std::string_view> k_ftp_store_keys = {"FTPPort", "FTPPassword", "FTPServer",
                                                               "FTPUser"};

class TMxFTPOptions : public TMxInternetOptions, public IMxFTPOptions {
  MX_CLASS(TMxFTPOptions, TMxInternetOptions)
  MX_PROPERTIES(TMxFTPOptions, TMxInternetOptions)
 public:
  TMxFTPOptions() = default;
  static void DefineProperties(host::TPropTable& t);

  std::string GetName() const override { return std::string(k_ftp_options_name); }
  void LoadOptions(host::IMxOptionsReader& reader) override;

  std::string GetFTPServer() const override { return FFTPServer; }
  void SetFTPServer(const std::string& value) override;
  std::string GetFTPUser() const override { return FFTPUser; }
  void SetFTPUser(const std::string& value) override;
  // Stored under the key "FTPPassword".
  std::string GetFTPPass() const override { return FFTPPass; }
  void SetFTPPass(const std::string& value) override;
  int GetFTPPort() const override { return FFTPPort; }
  void SetFTPPort(int value) override;

 private:
  std::string FFTPServer;
  std::string FFTPUser;
  std::string FFTPPass;
  int FFTPPort = 0;  // 21 comes from the first load
};

// The live FTP options of the current host, looked up on every call; null when absent.
IMxFTPOptions* FTPOptions();

// Registers TMxFTPOptions with the current host's options service.
void RegisterFTPOptions();

}  // namespace mx
