#pragma once
// The internet components' exceptions. Every failure is raised as one of these; the message
// is the text an action logs.
#include <string>

#include "rtl/Exception.h"

namespace inet {

class EIdException : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// "Connect timed out after N ms (host:port)".
class EIdConnectTimeout : public EIdException {
 public:
  using EIdException::EIdException;
};

// "Read timed out after N ms".
class EIdReadTimeout : public EIdException {
 public:
  using EIdException::EIdException;
};

// The peer closed the connection (also in the middle of a reply or a transfer).
class EIdConnClosedGracefully : public EIdException {
 public:
  using EIdException::EIdException;
};

// A socket call failed; the message carries the system's text and what was being done.
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(const std::string& message, int errorCode) : EIdException(message), errorCode_(errorCode) {}
  int ErrorCode() const { return errorCode_; }

 private:
  int errorCode_;
};

// Name resolution failed ("Cannot resolve host name x: ...").
class EIdResolveError : public EIdException {
 public:
  using EIdException::EIdException;
};

// A TLS handshake, verification or record failure, with OpenSSL's text.
class EIdTLSError : public EIdException {
 public:
  using EIdException::EIdException;
};

// Abort() from another thread ended the operation.
class EIdAborted : public EIdException {
 public:
  using EIdException::EIdException;
};

// The peer broke the protocol: an over-long line, a reply that is not a reply.
class EIdProtocolError : public EIdException {
 public:
  using EIdException::EIdException;
};

// A command argument that would inject protocol text (CR or LF), refused before sending.
class EIdInvalidArgument : public EIdException {
 public:
  using EIdException::EIdException;
};

// The server answered with a code the caller did not expect. Message: the reply's text.
class EIdReplyRFCError : public EIdException {
 public:
  EIdReplyRFCError(int code, const std::string& replyText)
      : EIdException(replyText), code_(code), replyText_(replyText) {}
  int ErrorCode() const { return code_; }
  const std::string& ReplyText() const { return replyText_; }

 private:
  int code_;
  std::string replyText_;
};

}  // namespace inet
