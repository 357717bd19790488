#include "icq/ICQWorksText.h"

#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <vector>

#include "rtl/Base64.h"
#include "rtl/TextCodec.h"

namespace icq {

// ---- status ----

namespace {

constexpr bool AllOf(std::uint32_t status, std::uint32_t bits) {
  return (status & bits) == bits;
}

}  // namespace

std::uint32_t StatusToInt(std::uint32_t status) {
  if (status == S_OFFLINE) return S_OFFLINE;
  if (AllOf(status, S_DND)) return S_DND;
  if (AllOf(status, S_OCCUPIED)) return S_OCCUPIED;
  if (AllOf(status, S_NA)) return S_NA;
  if (status & 0x10) return S_OCCUPIED;
  if (status & 0x01) return S_AWAY;
  if (status & S_INVISIBLE) return S_INVISIBLE;
  if (status & S_FFC) return S_FFC;
  if (status & 0x04) return S_NA;
  return S_ONLINE;
}

std::string StatusToStr(std::uint32_t status) {
  switch (StatusToInt(status)) {
    case S_OFFLINE:
      return "Offline";
    case S_DND:
      return "DND";
    case S_OCCUPIED:
      return "Occupied";
    case S_NA:
      return "N/A";
    case S_AWAY:
      return "Away";
    case S_INVISIBLE:
      return "Invisible";
    case S_FFC:
      return "FFC";
    default:
      return "Online";
  }
}

// ---- names for logs ----

namespace {

struct TSnacName {
  std::uint16_t Family;
  std::uint16_t SubType;
  const char* Name;
};

// Where the client and the server use the same pair, the name says what the session sees more
// often in its log.
constexpr TSnacName kSnacNames[] = {
    {0x01, 0x01, "SRV_ERROR"},
    {0x01, 0x02, "CLI_READY"},
    {0x01, 0x03, "SRV_FAMILIES"},
    {0x01, 0x06, "CLI_RATESREQUEST"},
    {0x01, 0x07, "SRV_RATES"},
    {0x01, 0x08, "CLI_ACKRATES"},
    {0x01, 0x0A, "SRV_RATEWARNING"},
    {0x01, 0x0E, "CLI_REQINFO"},
    {0x01, 0x0F, "SRV_REPLYINFO"},
    {0x01, 0x11, "CLI_SETIDLETIME"},
    {0x01, 0x13, "SRV_MOTD"},
    {0x01, 0x17, "CLI_FAMILIES"},
    {0x01, 0x18, "SRV_FAMILIES2"},
    {0x01, 0x1E, "CLI_SETSTATUS"},
    {0x02, 0x01, "SRV_LOCATIONERROR"},
    {0x02, 0x02, "CLI_REQLOCATION"},
    {0x02, 0x03, "SRV_REPLYLOCATION"},
    {0x02, 0x04, "CLI_SETUSERINFO"},
    {0x03, 0x01, "SRV_BUDDYERROR"},
    {0x03, 0x02, "CLI_REQBUDDY"},
    {0x03, 0x03, "SRV_REPLYBUDDY"},
    {0x03, 0x04, "CLI_ADDCONTACT"},
    {0x03, 0x05, "CLI_REMOVECONTACT"},
    {0x03, 0x0B, "SRV_USERONLINE"},
    {0x03, 0x0C, "SRV_USEROFFLINE"},
    {0x04, 0x01, "SRV_ICBMERROR"},
    {0x04, 0x02, "CLI_SETICBM"},
    {0x04, 0x04, "CLI_REQICBM"},
    {0x04, 0x05, "SRV_REPLYICBM"},
    {0x04, 0x06, "CLI_SENDMSG"},
    {0x04, 0x07, "SRV_RECVMSG"},
    {0x04, 0x0B, "SRV_CLIENTACK"},
    {0x04, 0x0C, "SRV_MSGACK_ADVANCED"},
    {0x09, 0x01, "SRV_BOSERROR"},
    {0x09, 0x02, "CLI_REQBOS"},
    {0x09, 0x03, "SRV_REPLYBOS"},
    {0x09, 0x05, "CLI_ADDVISIBLE"},
    {0x09, 0x06, "CLI_REMVISIBLE"},
    {0x09, 0x07, "CLI_ADDINVISIBLE"},
    {0x09, 0x08, "CLI_REMINVISIBLE"},
    {0x0B, 0x02, "SRV_SETINTERVAL"},
    {0x13, 0x01, "SRV_SSIERROR"},
    {0x13, 0x02, "CLI_REQUNKNOWN"},
    {0x13, 0x03, "SRV_REPLYUNKNOWN"},
    {0x13, 0x04, "CLI_REQROSTER"},
    {0x13, 0x05, "CLI_CHECKROSTER"},
    {0x13, 0x06, "SRV_REPLYROSTER"},
    {0x13, 0x07, "CLI_ROSTERACK"},
    {0x13, 0x08, "CLI_ADDBUDDY"},
    {0x13, 0x09, "CLI_UPDATEBUDDY"},
    {0x13, 0x0A, "CLI_DELETEBUDDY"},
    {0x13, 0x0E, "SRV_UPDATEACK"},
    {0x13, 0x0F, "SRV_REPLYROSTEROK"},
    {0x13, 0x11, "CLI_ADDSTART"},
    {0x13, 0x12, "CLI_ADDEND"},
    {0x13, 0x18, "CLI_REQAUTH"},
    {0x13, 0x19, "SRV_AUTHORIZATION_REQUEST"},
    {0x13, 0x1A, "CLI_AUTHORIZE"},
    {0x13, 0x1B, "SRV_AUTH_RESPONSE"},
    {0x13, 0x1C, "SRV_ADDEDYOU"},
    {0x15, 0x01, "SRV_ICQERROR"},
    {0x15, 0x02, "CLI_TOICQSRV"},
    {0x15, 0x03, "SRV_FROMICQSRV"},
    {0x17, 0x01, "SRV_REGREFUSED"},
    {0x17, 0x04, "CLI_REGISTERUSER"},
    {0x17, 0x05, "SRV_NEWUIN"},
};

struct TCodeText {
  std::uint16_t Code;
  const char* Name;
};

constexpr TCodeText kMetaNames[] = {
    {0x0001, "SRV_SMSREFUSED"},    {0x0064, "SRV_METAGENERALDONE"}, {0x0078, "SRV_METAMOREDONE"},
    {0x0082, "SRV_METAABOUTDONE"}, {0x0096, "SRV_SMSACK"},          {0x00A0, "SRV_METAPERMISSIONSDONE"},
    {0x00AA, "SRV_METAPASSDONE"},  {0x00B4, "SRV_METAUNREGDONE"},   {0x00C8, "SRV_METAGENERAL"},
    {0x00D2, "SRV_METAWORK"},      {0x00DC, "SRV_METAMORE"},        {0x00E6, "SRV_METAABOUT"},
    {0x00EB, "SRV_METAMOREEMAIL"}, {0x00F0, "SRV_METAINTERESTS"},   {0x00FA, "SRV_METABACKGROUND"},
    {0x0104, "SRV_METASHORTINFO"}, {0x01A4, "SRV_METAFOUND"},       {0x01AE, "SRV_METALASTFOUND"},
    {0x0366, "SRV_METARANDOM"},
};

constexpr TCodeText kPeerNames[] = {
    {0x0001, "PEER_INITACK"},   {0x0003, "PEER_INIT2"},  {0x00FF, "PEER_INIT"},
    {0x07D0, "PEER_MSGCANCEL"}, {0x07DA, "PEER_MSGACK"}, {0x07EE, "PEER_MSG"},
};

template <std::size_t N>
std::string Lookup(const TCodeText (&table)[N], std::uint16_t code) {
  for (const TCodeText& e : table)
    if (e.Code == code) return e.Name;
  return "unknown";
}

}  // namespace

std::string SnacToStr(std::uint16_t family, std::uint16_t subtype) {
  for (const TSnacName& e : kSnacNames)
    if (e.Family == family && e.SubType == subtype) return e.Name;
  return "unknown";
}

std::string SrvMetaToStr(std::uint16_t command, std::uint16_t subtype) {
  switch (command) {
    case 0x0041:
      return "SRV_OFFLINEMSG";
    case 0x0042:
      return "SRV_DONEOFFLINEMSGS";
    case 0x07DA:
      return Lookup(kMetaNames, subtype);
    default:
      return "unknown";
  }
}

std::string PeerCmdToStr(std::uint16_t cmd) {
  return Lookup(kPeerNames, cmd);
}

// ---- Base64 and Unix time ----

std::string EncodeBase64(std::string_view data) {
  return rtl::Base64Encode(data);
}

std::string DecodeBase64(std::string_view text) {
  std::string out;
  std::uint32_t acc = 0;
  int bits = 0;
  for (const char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
      continue;
    else
      break;  // padding or a stray character ends the data
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

rtl::TDateTime UnixToDateTime(std::uint32_t seconds) {
  return rtl::UnixToDateTime(seconds);
}

std::uint32_t DateTimeToUnix(rtl::TDateTime dt) {
  const std::int64_t s = rtl::DateTimeToUnix(dt);
  if (s < 0) return 0;
  if (s > std::numeric_limits<std::uint32_t>::max()) return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(s);
}

// ---- text ----

std::string StrToUTF8(std::string_view text) {
  return rtl::BytesToText(text);
}

std::string UTF8ToStr(std::string_view bytes) {
  return rtl::BytesToText(bytes);
}

std::string UTF8ToStrSmart(std::string_view bytes) {
  return rtl::IsValidUtf8(bytes) ? std::string(bytes) : rtl::Cp1252ToUtf8(bytes);
}

std::string TextToSingleByte(std::string_view text) {
  return rtl::Utf8ToCp1252(text);
}

std::string SingleByteToText(std::string_view bytes) {
  return rtl::Cp1252ToUtf8(bytes);
}

// ---- RTF ----

namespace {

// Destinations whose text is never shown.
constexpr std::string_view kSkippedDestinations[] = {"fonttbl",
                                                     "colortbl",
                                                     "stylesheet",
                                                     "info",
                                                     "pict",
                                                     "header",
                                                     "footer",
                                                     "headerl",
                                                     "headerr",
                                                     "footerl",
                                                     "footerr",
                                                     "listtable",
                                                     "listoverridetable",
                                                     "rsidtbl",
                                                     "generator",
                                                     "themedata",
                                                     "object",
                                                     "xmlnstbl",
                                                     "latentstyles",
                                                     "datastore",
                                                     "colorschememapping",
                                                     "filetbl",
                                                     "revtbl",
                                                     "pgdsctbl",
                                                     "mmathPr"};

void AppendCodePoint(std::string& out, std::uint32_t cp) {
  if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;  // a lone surrogate half is no character
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class TRtfReader {
 public:
  explicit TRtfReader(std::string_view rtf) : FIn(rtf) {}

  std::string Run() {
    while (FPos < FIn.size()) {
      const char c = FIn[FPos++];
      if (c == '{') {
        OpenGroup();
      } else if (c == '}') {
        if (!CloseGroup()) break;  // the document's own group has ended
      } else if (c == '\\') {
        ControlSymbol();
      } else if (c != '\r' && c != '\n') {
        Text(static_cast<unsigned char>(c));
      }
    }
    FlushBytes();
    return FOut;
  }

 private:
  struct TGroup {
    bool Skip = false;
    int UnicodeSkip = 1;  // fallback characters after \uN
  };

  // Deeper groups than this share the state of the deepest one kept.
  static constexpr std::size_t kMaxDepth = 256;

  TGroup& Top() { return FStack.empty() ? FRoot : FStack.back(); }

  void OpenGroup() {
    FPendingFallback = 0;
    if (FStack.size() >= kMaxDepth) {
      ++FOverflow;
      return;
    }
    FStack.push_back(Top());
  }

  bool CloseGroup() {
    FPendingFallback = 0;
    if (FOverflow > 0) {
      --FOverflow;
      return true;
    }
    if (FStack.empty()) return false;
    FStack.pop_back();
    return !FStack.empty();
  }

  void ControlSymbol() {
    if (FPos >= FIn.size()) return;
    const char c = FIn[FPos];
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      ControlWord();
      return;
    }
    ++FPos;
    switch (c) {
      case '\'': {
        int value = 0;
        int digits = 0;
        for (; digits < 2 && FPos < FIn.size() && HexValue(FIn[FPos]) >= 0; ++digits)
          value = value * 16 + HexValue(FIn[FPos++]);
        if (digits < 2 || Fallback()) return;  // a cut-off escape shows nothing
        if (!Top().Skip) Cp1252(static_cast<unsigned char>(value));
        return;
      }
      case '\\':
      case '{':
      case '}':
        Text(static_cast<unsigned char>(c));
        return;
      case '*':
        SkipGroup();
        return;
      case '~':
        Emit(0xA0);
        return;
      case '_':
        Emit('-');
        return;
      case '\r':
      case '\n':
        Emit("\r\n");
        return;  // an escaped line break is a paragraph
      default:
        return;  // \- optional hyphen and unknown symbols show nothing
    }
  }

  void ControlWord() {
    const std::size_t start = FPos;
    while (FPos < FIn.size() && FPos - start < 32 &&
           ((FIn[FPos] >= 'a' && FIn[FPos] <= 'z') || (FIn[FPos] >= 'A' && FIn[FPos] <= 'Z')))
      ++FPos;
    const std::string_view word = FIn.substr(start, FPos - start);
    bool hasParam = false;
    bool negative = false;
    long long param = 0;
    if (FPos < FIn.size() && FIn[FPos] == '-') {
      negative = true;
      ++FPos;
    }
    const std::size_t digits = FPos;
    while (FPos < FIn.size() && FPos - digits < 10 && FIn[FPos] >= '0' && FIn[FPos] <= '9') {
      param = param * 10 + (FIn[FPos] - '0');
      hasParam = true;
      ++FPos;
    }
    if (negative) param = -param;
    if (FPos < FIn.size() && FIn[FPos] == ' ') ++FPos;  // the delimiter belongs to the word

    if (word == "u" && hasParam) {
      const long long cp = param < 0 ? param + 65536 : param;  // written as signed 16-bit
      Emit(cp >= 0 && cp <= 0x10FFFF ? static_cast<std::uint32_t>(cp) : 0xFFFDu);
      FPendingFallback = Top().UnicodeSkip;
      return;
    }
    if (Fallback()) return;
    if (word == "uc") {
      Top().UnicodeSkip = hasParam && param >= 0 && param < 16 ? static_cast<int>(param) : 1;
    } else if (word == "par" || word == "line") {
      Emit("\r\n");
    } else if (word == "tab") {
      Emit('\t');
    } else if (word == "emdash") {
      Emit(0x2014);
    } else if (word == "endash") {
      Emit(0x2013);
    } else if (word == "bullet") {
      Emit(0x2022);
    } else if (word == "lquote") {
      Emit(0x2018);
    } else if (word == "rquote") {
      Emit(0x2019);
    } else if (word == "ldblquote") {
      Emit(0x201C);
    } else if (word == "rdblquote") {
      Emit(0x201D);
    } else {
      for (const std::string_view skipped : kSkippedDestinations)
        if (word == skipped) SkipGroup();
    }
  }

  // Only a group inside the document can be dropped; the document's own group always shows.
  void SkipGroup() {
    if (FStack.size() >= 2 || FOverflow > 0) Top().Skip = true;
  }

  // Swallows one character of the fallback that follows \uN.
  bool Fallback() {
    if (FPendingFallback <= 0) return false;
    --FPendingFallback;
    return true;
  }

  void Text(unsigned char c) {
    if (Fallback() || Top().Skip) return;
    if (c < 0x80) {
      FlushBytes();
      FOut.push_back(static_cast<char>(c));
    } else {
      FBytes.push_back(static_cast<char>(c));  // raw 8-bit text: decoded as one run
    }
  }

  void Cp1252(unsigned char c) {
    FlushBytes();
    FOut += rtl::Cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(&c), 1));
  }

  void Emit(std::string_view s) {
    if (Top().Skip) return;
    FlushBytes();
    FOut += s;
  }

  void Emit(char c) { Emit(std::string_view(&c, 1)); }

  void Emit(std::uint32_t cp) {
    if (Top().Skip) return;
    FlushBytes();
    AppendCodePoint(FOut, cp);
  }

  void Emit(int cp) { Emit(static_cast<std::uint32_t>(cp)); }

  void FlushBytes() {
    if (FBytes.empty()) return;
    FOut += rtl::BytesToText(FBytes);
    FBytes.clear();
  }

  std::string_view FIn;
  std::size_t FPos = 0;
  std::string FOut;
  std::string FBytes;
  TGroup FRoot;
  std::vector<TGroup> FStack;
  std::size_t FOverflow = 0;
  int FPendingFallback = 0;
};

}  // namespace

std::string RTF2Plain(const std::string& rtf) {
  if (rtf.rfind("{\\rtf", 0) != 0) return rtf;
  return TRtfReader(rtf).Run();
}

// ---- thread timer ----

struct TTHreadTimer::TState {
  std::mutex M;
  std::condition_variable Cv;
  bool Enabled = false;
  bool Stopping = false;  // a stop is joining the thread: ticks may not re-enable it
  std::uint32_t Interval = 1000;
  std::uint64_t Generation = 0;  // bumped when the interval starts counting again
  std::function<void()> OnTimer;
  std::thread::id Worker;
};

void TTHreadTimer::Run(const std::shared_ptr<TState>& s) {
  std::unique_lock lock(s->M);
  while (s->Enabled && !s->Stopping) {
    const std::uint64_t gen = s->Generation;
    const auto changed = [&] { return !s->Enabled || s->Stopping || s->Generation != gen; };
    if (s->Interval == 0) {
      s->Cv.wait(lock, changed);
      continue;
    }
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(s->Interval);
    if (s->Cv.wait_until(lock, due, changed)) continue;
    const std::function<void()> handler = s->OnTimer;
    lock.unlock();
    if (handler) handler();
    lock.lock();
  }
}

TTHreadTimer::TTHreadTimer() : FState(std::make_shared<TState>()) {}

TTHreadTimer::~TTHreadTimer() {
  bool onWorker;
  {
    std::lock_guard lock(FState->M);
    onWorker = FThread.joinable() && FState->Worker == std::this_thread::get_id();
    if (onWorker) {
      FState->Enabled = false;
      FState->Cv.notify_all();
    }
  }
  if (onWorker) {
    FThread.detach();
    return;
  }
  std::lock_guard control(FControl);
  Stop();
}

std::uint32_t TTHreadTimer::GetInterval() const {
  std::lock_guard lock(FState->M);
  return FState->Interval;
}

void TTHreadTimer::SetInterval(std::uint32_t ms) {
  std::lock_guard lock(FState->M);
  FState->Interval = ms;
  ++FState->Generation;
  FState->Cv.notify_all();
}

bool TTHreadTimer::GetEnabled() const {
  std::lock_guard lock(FState->M);
  return FState->Enabled;
}

void TTHreadTimer::SetEnabled(bool enabled) {
  {
    // From a tick the thread is already there: only the flag changes.
    std::lock_guard lock(FState->M);
    if (FState->Worker == std::this_thread::get_id()) {
      if (!(enabled && FState->Stopping)) FState->Enabled = enabled;
      FState->Cv.notify_all();
      return;
    }
  }
  std::unique_lock control(FControl);
  if (!enabled) {
    Stop();
    return;
  }
  {
    std::lock_guard lock(FState->M);
    if (FState->Enabled) return;
  }
  Stop();                           // a thread whose tick disabled it may still be finishing that tick
  std::lock_guard lock(FState->M);  // held until return: the thread waits for it
  FState->Enabled = true;
  ++FState->Generation;
  FThread = std::thread(Run, FState);
  FState->Worker = FThread.get_id();
  // Its first tick may destroy the timer, so nothing of the timer is touched after this.
  control.unlock();
}

void TTHreadTimer::SetOnTimer(std::function<void()> handler) {
  std::lock_guard lock(FState->M);
  FState->OnTimer = std::move(handler);
}

void TTHreadTimer::Stop() {
  {
    std::lock_guard lock(FState->M);
    FState->Enabled = false;
    FState->Stopping = true;
    FState->Cv.notify_all();
  }
  if (FThread.joinable()) FThread.join();
  std::lock_guard lock(FState->M);
  FState->Stopping = false;
  FState->Worker = std::thread::id();
}

}  // namespace icq
