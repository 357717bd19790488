#pragma once
// The aiosmtpd server of tests/servers on 127.0.0.1 and a free port, with the test
// certificates and a spool of what it accepted: one "N.env" (envelope lines such as
// "from a", "rcpt b", "auth ann") and one "N.eml" (the data as received) per message.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ServerProcess.h"

namespace testsupport {

struct SmtpDelivery {
  std::vector<std::string> envelope;
  std::filesystem::path file;  // the message as the server kept it
  std::string Content() const;
};

class SmtpServer {
 public:
  // options: the server script's own options (--starttls, --refuse ADDR, ...); refuseData: a
  // recipient whose messages are refused with 550 at the end of the data.
  explicit SmtpServer(std::vector<std::string> options = {}, const std::string& refuseData = {});
  int Port() const { return process_->Port(); }
  // The accepted messages in order.
  std::vector<SmtpDelivery> Spool() const;

 private:
  ScratchDir spool_{"smtp-spool"};
  std::unique_ptr<ServerProcess> process_;
};

}  // namespace testsupport
