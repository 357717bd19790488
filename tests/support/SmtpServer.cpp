#include "tests/support/SmtpServer.h"

#include <fstream>

namespace testsupport {

namespace {
// Runs the server script with its DATA handler answering 550 when the message is for the
// recipient in REFUSE_DATA.
constexpr const char* k_refuse_data_server = R"PY(
import os, runpy, sys
server = runpy.run_path(sys.argv[1])
accept = server["Handler"].handle_DATA
async def handle_DATA(self, smtp, session, envelope):
    if os.environ["REFUSE_DATA"] in envelope.rcpt_tos:
        return "550 5.7.1 Message content rejected"
    return await accept(self, smtp, session, envelope)
server["Handler"].handle_DATA = handle_DATA
sys.argv = sys.argv[1:]
server["main"]()
)PY";
}  // namespace

std::string SmtpDelivery::Content() const {
  return ReadText(file);
}

SmtpServer::SmtpServer(std::vector<std::string> options, const std::string& refuseData) {
  const auto& certs = GetTestCertificates();
  std::vector<std::string> argv{"/usr/bin/python3",
                                (SourceDir() / "tests/servers/smtp-aiosmtpd.py").string(),
                                "--port",
                                "{port}",
                                "--spool",
                                spool_.Path().string(),
                                "--cert",
                                certs.serverCert.string(),
                                "--key",
                                certs.serverKey.string()};
  argv.insert(argv.end(), options.begin(), options.end());
  ServerProcess::Options o;
  o.env = {{"PYTHONDONTWRITEBYTECODE", "1"}};
  if (!refuseData.empty()) {
    argv.insert(argv.begin() + 1, {"-c", k_refuse_data_server});
    o.env.emplace_back("REFUSE_DATA", refuseData);
  }
  process_ = std::make_unique<ServerProcess>(argv, o);
}

std::vector<SmtpDelivery> SmtpServer::Spool() const {
  std::vector<SmtpDelivery> out;
  for (int n = 1;; ++n) {
    const std::filesystem::path base = spool_.Path() / std::to_string(n);
    std::ifstream env(base.string() + ".env");
    if (!env) return out;
    SmtpDelivery d;
    for (std::string line; std::getline(env, line);) d.envelope.push_back(line);
    d.file = base.string() + ".eml";
    out.push_back(std::move(d));
  }
}

}  // namespace testsupport
