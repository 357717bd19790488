#pragma once
// INN from tests/servers on 127.0.0.1 in a private configuration (its own spool, history and
// ports under a scratch folder), with the groups local.test, local.other and local.moderated,
// and what a reader finds in a group, parsed by Python's email package.
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ServerProcess.h"

namespace testsupport {

class NewsServer {
 public:
  enum class Mode {
    Open,      // anyone may post
    Auth,      // reading and posting need AUTHINFO as k_user / k_password
    ReadOnly,  // posting refused (greeting 201, POST 440)
  };
  static constexpr const char* k_user = "quillon";
  static constexpr const char* k_password = "quillon-news-pw";

  // withTLS: STARTTLS on Port() and implicit TLS on TlsPort(), with the test certificates.
  explicit NewsServer(Mode mode = Mode::Open, bool withTLS = false);
  int Port() const { return process_->Port(); }
  int TlsPort() const { return tlsPort_; }

  // The facts the article reader prints ("article 1", "h:subject Hi", "part m text/plain ...")
  // for every article of the group, in order.
  std::vector<std::string> Articles(const std::string& group) const;

 private:
  Mode mode_;
  ScratchDir dir_{"inn"};
  int tlsPort_ = 0;
  std::unique_ptr<ServerProcess> process_;
};

}  // namespace testsupport
