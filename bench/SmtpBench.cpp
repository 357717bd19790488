// Our SMTP client's sending rate, for bench/smtp.sh: COUNT small messages over one connection,
// one per recipient, each composed and sent as the e-mail action's individual mode does (one
// message whose recipient is replaced before every send, queued so that each verdict is read
// with the next envelope's replies). Fails unless the server accepted every message. Prints
// one line the script reads:
//   messages=N seconds=S rate=R
// --sample FILE first writes the message of the first recipient, so another client can send
// the same text.
//
//   SmtpBench [--sample FILE] HOST PORT COUNT
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "inet/IdMessage.h"
#include "inet/IdSMTP.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: SmtpBench [--sample FILE] HOST PORT COUNT\n");
  return 2;
}

std::string Recipient(int i) {
  return "user" + std::to_string(i) + "@example.net";
}

void Compose(inet::TIdMessage& m) {
  m.From = {"Build Robot", "robot@example.org"};
  m.Subject = "Nightly build finished";
  for (const char* line : {"The nightly build finished without errors.", "",
                           "Duration: 12 minutes 41 seconds", "Artifacts: 17 files, 48 MB",
                           "Log: https://build.example.org/nightly/latest", "", "-- ", "Build Robot"})
    m.Body.Add(line);
}

}  // namespace

int main(int argc, char** argv) {
  std::string sample;
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--sample" && i + 1 < argc)
      sample = argv[++i];
    else
      rest.push_back(a);
  }
  if (rest.size() != 3) return Usage();
  const int count = std::atoi(rest[2].c_str());
  if (count <= 0) return Usage();

  try {
    inet::TIdMessage message;
    Compose(message);
    if (!sample.empty()) {
      message.Recipients = {{"", Recipient(0)}};
      std::ofstream(sample, std::ios::binary) << message.SaveToString();
    }
    inet::TIdSMTP smtp;
    smtp.Host = rest[0];
    smtp.Port = std::atoi(rest[1].c_str());

    int accepted = 0;
    smtp.OnQueuedResult = [&accepted](std::size_t index, std::exception_ptr error) {
      if (error) std::rethrow_exception(error);
      // Verdicts come in order: one out of place means the dialogue lost step.
      if (index != static_cast<std::size_t>(accepted))
        throw std::runtime_error("verdict " + std::to_string(index) + " came out of order");
      ++accepted;
    };

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    smtp.Connect();
    for (int i = 0; i < count; ++i) {
      message.Recipients.clear();
      message.Recipients.push_back({"", Recipient(i)});
      smtp.SendQueued(message);
    }
    smtp.FlushQueued();
    smtp.Disconnect();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (accepted != count) {
      std::fprintf(stderr, "SmtpBench: the server accepted %d of %d messages\n", accepted, count);
      return 1;
    }
    std::printf("messages=%d seconds=%.3f rate=%.1f\n", count, seconds, count / seconds);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "SmtpBench: %s\n", e.what());
    return 1;
  }
}
