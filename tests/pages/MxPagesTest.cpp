// The property pages, driven as a user drives them: read an action into a page, change the
// controls, write back. Every test leaves a picture of its page in the build folder.
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "actions/MxICQAction.h"
#include "actions/MxInetGetHTTPAction.h"
#include "actions/MxTelnetClient.h"
#include "ftp/MxFTP.h"
#include "ftp/MxFTPConnectAction.h"
#include "ftp/MxFTPWaitForFile.h"
#include "host/MxAction.h"
#include "host/MxOptions.h"
#include "host/MxServices.h"
#include "mail/MxEmail.h"
#include "mail/MxNNTPAction.h"
#include "options/MxEmailOptions.h"
#include "options/MxFTPOptions.h"
#include "package/MxInternetActions.h"
#include "pages/MxEmailPages.h"
#include "pages/MxPageFactory.h"
#include "pages/MxPropertyEditors.h"
#include "pages/MxScriptPages.h"
#include "pages/MxWaitOptionsFrame.h"

namespace {

using TProps = std::vector<std::pair<std::string, std::string>>;

// Every published property of an object, with its child objects and object properties, as
// text: two objects with the same snapshot hold the same values. Limited to `names` at the top.
void Snapshot(host::TNbXMLObject& o, const std::vector<std::string>* names, const std::string& prefix,
              std::map<std::string, std::string>& out) {
  for (const host::TPropInfo& p : o.GetProperties()) {
    if (names && std::find(names->begin(), names->end(), p.Name) == names->end()) continue;
    const std::string key = prefix + p.Name;
    if (p.Kind == host::TPropKind::Object) {
      if (auto* child = dynamic_cast<host::TNbXMLObject*>(p.Object(o)))
        Snapshot(*child, nullptr, key + ".", out);
    } else {
      out[key] = o.GetPropertyText(p.Name);
    }
  }
  int i = 0;
  o.GetChildren(
      [&](host::TNbXMLObject& child) { Snapshot(child, nullptr, prefix + std::to_string(i++) + ".", out); });
}

std::map<std::string, std::string> Snapshot(host::TNbXMLObject& o, const std::vector<std::string>& names) {
  std::map<std::string, std::string> out;
  Snapshot(o, &names, "", out);
  return out;
}

// A page's round trip: the action is filled with values that are not its defaults.
struct TRoundTrip {
  const char* Frame;
  const char* Action;
  TProps Values;
  std::function<void(host::TMxAction&)> Fill;  // values that are objects
  std::vector<std::string> Objects;            // their property names, compared whole
  // A value published only in encrypted form (a password), compared in clear.
  std::function<std::string(host::TMxAction&)> Secret = {};
};

void FillList(mx::TMxCustomAddressList& list) {
  list.Add("Ann Example", "ann@example.org", true);
  list.Add("", "bob@example.org", false);
}

const std::vector<TRoundTrip>& RoundTrips() {
  static const std::vector<TRoundTrip> rows = {
      {"TEmailOptionsFrame",
       "TEmailAction",
       {{"Host", "smtp.example.org"},
        {"Port", "2525"},
        {"UserId", "ann"},
        {"Password", "pa ss&word"},
        {"Authenticate", "true"},
        {"UseEhlo", "true"},
        {"UseSSL", "true"},
        {"UseTLS", "utUseRequireTLS"},
        {"UseGlobalOptions", "false"},
        {"PopBeforeSMTP", "true"},
        {"POPHost", "pop.example.org"},
        {"POPPort", "1110"}},
       {},
       {}},
      {"TEmailWhoFrame",
       "TEmailAction",
       {{"Mode", "1"}, {"IgnoreIndivualFailures", "true"}},
       [](host::TMxAction& a) {
         auto& e = dynamic_cast<mx::TCustomEmailAction&>(a);
         e.FromObject().SetName("Ann");
         e.FromObject().SetAddress("ann@example.org");
         e.SenderObject().SetName("Robot");
         e.SenderObject().SetAddress("robot@example.org");
         e.ReceiptRecipientObject().SetAddress("receipts@example.org");
       },
       {"FromObject", "SenderObject", "ReceiptRecipientObject"}},
      {"TRecipientsFrame",
       "TEmailAction",
       {{"RecipientsSource", "1"}, {"PathOfRecipientFile", "/srv/list.txt"}, {"RecipientVariable", "TO"}},
       [](host::TMxAction& a) { FillList(dynamic_cast<mx::TCustomEmailAction&>(a).RecipientsList()); },
       {"RecipientsList"}},
      {"TCopyToFrame",
       "TEmailAction",
       {{"CopyToSource", "2"}, {"PathOfCopyToFile", "cc.txt"}, {"CopyToVariable", "CC"}},
       [](host::TMxAction& a) { FillList(dynamic_cast<mx::TCustomEmailAction&>(a).CopyToList()); },
       {"CopyToList"}},
      {"TBlindCopyToFrame",
       "TEmailAction",
       {{"BccSource", "1"}, {"PathOfBccFile", "bcc.txt"}, {"BccVariable", "BCC"}},
       [](host::TMxAction& a) { FillList(dynamic_cast<mx::TCustomEmailAction&>(a).BlindCopyToList()); },
       {"BlindCopyToList"}},
      {"TReplyToFrame",
       "TEmailAction",
       {{"ReplyToSource", "2"}, {"PathOfReplyToFile", "r.txt"}, {"ReplyToVariable", "RT"}},
       [](host::TMxAction& a) { FillList(dynamic_cast<mx::TCustomEmailAction&>(a).ReplyToList()); },
       {"ReplyToList"}},
      {"TBodyFrame",
       "TEmailAction",
       {{"Subject", "Report %DATE%"},
        {"HTMLMessage", "true"},
        {"BodyObject", "<p>Hello</p>\n\n<p>Bye</p>"},
        {"PlainBodyObject", "Hello\n\nBye"}},
       {},
       {}},
      {"TBodyFrame", "TMxNNTPAction", {{"Subject", "News"}, {"Body", "line 1\nline 2"}}, {}, {}},
      {"TAttachmentsFrame",
       "TEmailAction",
       {{"AttachmentsObject", "/tmp/a.txt\n%REPORT%"}, {"IgnoreMissingAttachments", "true"}},
       {},
       {}},
      {"TAttachmentsFrame",
       "TMxNNTPAction",
       {{"Attachments", "x.bin"}, {"IgnoreMissingAttachments", "true"}},
       {},
       {}},
      {"TWaitOptionsFrame", "TFTPWaitForFileAction", {{"PollFreq", "90"}, {"WaitTimeout", "7200"}}, {}, {}},
      // FTP pages: every property each one edits, with values that are not the defaults.
      {"TFTPConnectFrame",
       "TFTPConnectionAction",
       {{"FTPConnectionName", "Site1"},
        {"ConnectTimeoutInSec", "45"},
        {"Passive", "true"},
        {"DetailedLogging", "true"},
        {"TransferType", "ftASCII"}},
       {},
       {}},
      {"TFTPServerFrame",
       "TFTPConnectionAction",
       {{"UseGlobalOpt", "true"}, {"FTPHost", "ftp.example.org"}, {"FTPPort", "2121"}, {"UserID", "bob"}},
       [](host::TMxAction& a) { dynamic_cast<mx::TFTPConnectionAction&>(a).SetPassword("pw&1"); },
       {},
       [](host::TMxAction& a) { return dynamic_cast<mx::TFTPConnectionAction&>(a).GetPassword(); }},
      {"TFTPNewProxyFrame",
       "TFTPConnectionAction",
       {{"UseProxy", "true"},
        {"ProxyServer", "proxy.example.org"},
        {"ProxyPort", "8021"},
        {"ProxyUsername", "p"},
        {"ProxyType", "2"}},
       [](host::TMxAction& a) { dynamic_cast<mx::TFTPConnectionAction&>(a).SetProxyPassword("proxy-pw"); },
       {},
       [](host::TMxAction& a) { return dynamic_cast<mx::TFTPConnectionAction&>(a).GetProxyPassword(); }},
      {"TFTPDisconnectFrame",
       "TFTPDisconnectAction",
       {{"ConnectionName", "Site1"}, {"AutoReConnect", "true"}, {"DetailedLogging", "true"}},
       {},
       {}},
      {"TFTPNoopFrame", "TFTPNoopAction", {{"ConnectionName", "Site2"}, {"AutoReConnect", "true"}}, {}, {}},
      {"TFTPChangeUpFrame",
       "TFTPChangeUpAction",
       {{"ConnectionName", "Site3"}, {"DetailedLogging", "true"}},
       {},
       {}},
      {"TFTPChangeDirFrame",
       "TFTPChangeDirAction",
       {{"ConnectionName", "S"}, {"RemoteDir", "/pub/x y"}},
       {},
       {}},
      {"TFTPGetRemoteDirFrame",
       "TFTPGetRemoteDirAction",
       {{"ConnectionName", "S"}, {"MxVariable", "DIR"}},
       {},
       {}},
      {"TFTPListDirFrame",
       "TFTPListDirAction",
       {{"ConnectionName", "S"},
        {"FileSpec", "*.txt"},
        {"MxVariable", "LIST"},
        {"ListToMxLog", "true"},
        {"DetailedListing", "true"}},
       {},
       {}},
      {"TFTPCreateDirFrame",
       "TFTPCreateDirAction",
       {{"NewDirectory", "new"}, {"NoFailIfDirExists", "true"}},
       {},
       {}},
      {"TFTPDeleteDirFrame", "TFTPDeleteDirAction", {{"Directory", "old"}, {"Recursive", "true"}}, {}, {}},
      {"TFTPDeleteFileFrame", "TFTPDeleteFileAction", {{"FileName", "a.txt"}}, {}, {}},
      {"TFTPRenameFileFrame", "TFTPRenameFileAction", {{"FileName", "a.txt"}, {"NewName", "b.txt"}}, {}, {}},
      {"TFTPGetFileSizeFrame",
       "TFTPGetFileSizeAction",
       {{"FileName", "a.bin"}, {"MxVariable", "SIZE"}},
       {},
       {}},
      {"TFTPCheckIfConnectedFrame",
       "TFTPCheckIfConnectedAction",
       {{"ConnectionName", "S"}, {"FailIfNotConnected", "false"}},
       {},
       {}},
      {"TFTPSendCMDFrame",
       "TFTPSendCMDAction",
       {{"TheCMD", "SITE CHMOD 644 a"}, {"ResponseCode", "200"}},
       {},
       {}},
      {"TFTPWaitForFileFrame",
       "TFTPWaitForFileAction",
       {{"ConnectionName", "S"}, {"FileName", "done.flag"}, {"WaitType", "3"}, {"FailIfDoesntExist", "true"}},
       {},
       {}},
      {"TFTPDownloadFileFrame",
       "TFTPDownloadFileAction",
       {{"FileName", "r.bin"},
        {"DownloadDir", "/tmp/in"},
        {"UseFileName", "true"},
        {"DownloadFileName", "l.bin"},
        {"AllowResume", "true"},
        {"AllowOverwrite", "true"}},
       {},
       {}},
      {"TFTPUploadFileFrame",
       "TFTPUploadFileAction",
       {{"LocalDir", "/srv/out"},
        {"FileSpec", "*.csv"},
        {"RemoteFile", "r.csv"},
        {"Recursive", "true"},
        {"CheckFileSizes", "true"},
        {"RetryIfUploadFails", "true"},
        {"ThrottleUpload", "true"},
        {"ThrottleSpeed", "64"}},
       {},
       {}},
      {"TFTPUploadUpdateFrame",
       "TFTPUploadFileAction",
       {{"UpdateOnly", "true"},
        {"AllowGap", "true"},
        {"GapLength", "30"},
        {"AutoUpdateSkew", "true"},
        {"ForceNextClockSkewUpdate", "true"},
        {"ServerClockSkew", "-75"}},
       {},
       {}},
      {"TFTPMirrorFrame",
       "TFTPMirrorAction",
       {{"MirrorOperation", "1"},
        {"LocalDir", "/srv/m"},
        {"SpecifyRemoteDir", "true"},
        {"RemoteDir", "/m"},
        {"Recursive", "true"},
        {"IncludeEmptyDirs", "true"},
        {"DeleteOrphans", "true"},
        {"LogFiles", "true"}},
       {},
       {}},
      {"TFTPMirrorOptFrame",
       "TFTPMirrorAction",
       {{"CheckFileCRC", "true"},
        {"CheckFileSize", "true"},
        {"CheckFileDate", "true"},
        {"SkipSkewCheck", "true"}},
       {},
       {}},
      {"TFTPMirrorExcludeFrame",
       "TFTPMirrorAction",
       {{"UseFileSpec", "true"},
        {"FileSpec", ".dat,.csv"},
        // A line with a name the mirror does not know, and one without a name, survive as read.
        {"ExcludeList", "File Name=tmp\nFile Mask=*.bak\nRegEx=^old\nSize=0\nlegacy\n"},
        {"LogExcludedFiles", "true"}},
       {},
       {}},
      // News, HTTP, Telnet and the FTP script action's settings.
      {"TNNTPFrame",
       "TMxNNTPAction",
       {{"NewsServer", "news.example.org"},
        {"Port", "1119"},
        {"Groups", "local.test"},
        {"SenderName", "Ann"},
        {"EmailAddress", "ann@example.org"},
        {"ReplyTo", "replies@example.org"},
        {"Encoding", "UTF-8"},
        {"TimeOut", "30000"},
        {"UseTLS", "utUseExplicitTLS"},
        {"Login", "true"},
        {"UserName", "ann"}},
       [](host::TMxAction& a) { dynamic_cast<mx::TMxNNTPAction&>(a).SetPassword("news-pw"); },
       {},
       [](host::TMxAction& a) { return dynamic_cast<mx::TMxNNTPAction&>(a).GetPassword(); }},
      {"TInetHTTPGetFrame",
       "TMxInetHTTPGetAction",
       {{"URL", "http://example.org/a"},
        {"Port", "8080"},
        {"Username", "u"},
        {"DownloadTo", "2"},
        {"DownloadToFile", "/tmp/a"},
        {"DownloadToVar", "BODY"},
        {"OverwriteFile", "true"}},
       [](host::TMxAction& a) { dynamic_cast<mx::TMxInetHTTPGetAction&>(a).SetPassword("http-pw"); },
       {},
       [](host::TMxAction& a) { return dynamic_cast<mx::TMxInetHTTPGetAction&>(a).GetPassword(); }},
      {"THTTPProxyFrame",
       "TMxInetHTTPGetAction",
       {{"UseProxy", "true"}, {"ProxyServer", "proxy"}, {"ProxyPort", "3128"}, {"ProxyUsername", "pu"}},
       [](host::TMxAction& a) { dynamic_cast<mx::TMxInetHTTPGetAction&>(a).SetProxyPassword("pp"); },
       {},
       [](host::TMxAction& a) { return dynamic_cast<mx::TMxInetHTTPGetAction&>(a).GetProxyPassword(); }},
      {"TMxTelnetOptFrame",
       "TTelnetClientAction",
       {{"Host", "telnet.example.org"}, {"Port", "2323"}, {"UserName", "root"}},
       [](host::TMxAction& a) { dynamic_cast<mx::TCustomTelnetClientAction&>(a).SetPassword("tpw"); },
       {},
       [](host::TMxAction& a) { return dynamic_cast<mx::TCustomTelnetClientAction&>(a).GetPassword(); }},
      {"TFTPOptionsFrame",
       "TFTPAction",
       {{"UseGlobalOptions", "true"}, {"Host", "ftp.example.org"}, {"Port", "2121"}, {"UserID", "bob"}},
       [](host::TMxAction& a) { dynamic_cast<mx::TCustomFTPAction&>(a).SetPassword("fpw"); },
       {},
       [](host::TMxAction& a) { return dynamic_cast<mx::TCustomFTPAction&>(a).GetPassword(); }},
      {"TFTPMoreOptionsFrame",
       "TFTPAction",
       {{"Passive", "true"}, {"DetailedLogging", "true"}, {"TransferType", "0"}},
       {},
       {}},
      {"TFTPProxyFrame",
       "TFTPAction",
       {{"UseProxy", "true"},
        {"ProxyServer", "proxy"},
        {"ProxyPort", "2121"},
        {"ProxyUsername", "pu"},
        {"ProxyType", "3"}},
       [](host::TMxAction& a) { dynamic_cast<mx::TCustomFTPAction&>(a).SetProxyPassword("pp"); },
       {},
       [](host::TMxAction& a) { return dynamic_cast<mx::TCustomFTPAction&>(a).GetProxyPassword(); }},
      // Multi-line texts come back exactly: no line end is added or lost.
      {"TICQFrame",
       "TICQAction",
       {{"ICQNumber", "%MYUIN%"},
        {"ToICQNumber", "+44 20 7946 0000\n%PHONE%"},
        {"TheMessage", "Build failed.\r\n\r\n  See the log\n"},
        {"Server", "login.example.org"},
        {"Port", "5191"},
        {"SendSMS", "true"}},
       [](host::TMxAction& a) { dynamic_cast<mx::TICQAction&>(a).SetPassword("icq pw&"); },
       {},
       [](host::TMxAction& a) { return dynamic_cast<mx::TICQAction&>(a).GetPassword(); }},
  };
  return rows;
}

// A step whose "Target" refuses one text, as a step refuses a value it cannot hold.
class TPickyItem final : public host::TNbXMLObject {
  MX_CLASS(TPickyItem, host::TNbXMLObject)
  MX_PROPERTIES(TPickyItem, host::TNbXMLObject)
 public:
  static void DefineProperties(host::TPropTable& t) {
    using I = TPickyItem;
    host::TPropBuilder<I>(t)
        .String("Label", &I::GetLabel, &I::SetLabel)
        .String("Target", &I::GetTarget, &I::SetTarget);
  }
  std::string GetLabel() const { return FLabel; }
  void SetLabel(const std::string& v) { FLabel = v; }
  std::string GetTarget() const { return FTarget; }
  void SetTarget(const std::string& v) {
    if (v == "refused") throw std::invalid_argument("not a target");
    FTarget = v;
  }
  std::string FLabel = "old";
  std::string FTarget = "old";
};

// The properties the e-mail action's dialog editors edit, with the values the tests start from.
const std::vector<std::string>& EmailEditedProperties() {
  static const std::vector<std::string> names = {"RecipientsList", "CopyToList", "BlindCopyToList",
                                                 "ReplyToList",    "BodyObject", "AttachmentsObject"};
  return names;
}

void FillEmail(host::TMxAction& action) {
  auto& e = dynamic_cast<mx::TCustomEmailAction&>(action);
  for (auto* list : {&e.RecipientsList(), &e.CopyToList(), &e.BlindCopyToList(), &e.ReplyToList()})
    FillList(*list);
  e.BodyObject().SetText("Old body\n");
  e.AttachmentsObject().SetText("old.txt\n");
}

QString ListText(const mx::TMxCustomAddressList& list) {
  QStringList entries;
  for (int i = 0; i < list.GetCount(); ++i) {
    const auto e = list.GetItemObject(i);
    entries << QString::fromStdString(e->GetName() + " <" + e->GetAddress() + "> ") +
                   (e->GetEnabled() ? QStringLiteral("on") : QStringLiteral("off"));
  }
  return entries.join(QStringLiteral("; "));
}

// Runs `drive` on the modal dialog once it is up, then makes sure it is closed, so that a failed
// check inside never leaves the test waiting in exec. Bounded by time; the watch ends with the
// returned timer, so it never reaches a later test's dialog.
[[nodiscard]] std::unique_ptr<QTimer> WhenModal(std::function<void(QDialog&)> drive) {
  auto timer = std::make_unique<QTimer>();
  const QDeadlineTimer deadline(5000);
  QObject::connect(timer.get(), &QTimer::timeout, [t = timer.get(), deadline, drive = std::move(drive)] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog && !deadline.hasExpired()) return;
    t->stop();
    if (!dialog) return;
    drive(*dialog);
    if (dialog->isVisible()) dialog->reject();
  });
  timer->start(10);
  return timer;
}

void ClickButton(QDialog& dialog, QDialogButtonBox::StandardButton which) {
  auto* box = dialog.findChild<QDialogButtonBox*>();
  QVERIFY(box);
  box->button(which)->click();
}

// Types into the cell's editor as a user does, and commits it with Return.
void TypeIntoCell(QTableWidget& grid, int row, int column, const QString& text) {
  grid.setCurrentCell(row, column);
  if (!grid.indexWidget(grid.currentIndex())) grid.editItem(grid.currentItem());
  auto* editor = qobject_cast<QLineEdit*>(grid.indexWidget(grid.currentIndex()));
  QVERIFY(editor);
  editor->selectAll();
  QTest::keyClicks(editor, text);
  QTest::keyClick(editor, Qt::Key_Return);
}

// No text of a shown form is cut off, and Tab walks its controls as they are laid out: top to
// bottom, and left to right within a row.
void LooksNative(QWidget& form) {
  for (auto* w : form.findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    const bool text = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w);
    if (text && !qobject_cast<QAbstractItemView*>(w->parentWidget()))
      QVERIFY2(w->width() >= w->minimumSizeHint().width(),
               qPrintable(w->objectName() + QLatin1Char(' ') + w->property("text").toString()));
  }

  // A control inside a compound one (a spin box's edit, a list's viewport) is not a stop.
  const auto stop = [&](QWidget* w) {
    if (!w->isVisible() || !(w->focusPolicy() & Qt::TabFocus)) return false;
    for (QWidget* p = w->parentWidget(); p && p != &form; p = p->parentWidget())
      if (qobject_cast<QComboBox*>(p) || qobject_cast<QAbstractSpinBox*>(p) ||
          qobject_cast<QAbstractScrollArea*>(p))
        return false;
    return true;
  };
  QWidget* previous = nullptr;
  int stops = 0;
  for (QWidget* w = form.nextInFocusChain(); w != &form && stops < 200; w = w->nextInFocusChain()) {
    if (!form.isAncestorOf(w) || !stop(w)) continue;
    ++stops;
    if (previous) {
      const QPoint a = previous->mapTo(&form, previous->rect().center());
      const QPoint b = w->mapTo(&form, w->rect().center());
      const bool sameRow = std::abs(a.y() - b.y()) <= 8;
      QVERIFY2(sameRow ? b.x() > a.x() : b.y() > a.y(),
               qPrintable(previous->objectName() + QStringLiteral(" -> ") + w->objectName()));
    }
    previous = w;
  }
}

// A user's edit in one of the e-mail action's dialog editors and what it leaves in the property.
struct TDialogEdit {
  const char* Editor;
  const char* Property;
  std::function<void(QDialog&)> Drive;
  std::function<QString(mx::TCustomEmailAction&)> Read;
  QString Expected;
};

void EditAddresses(QDialog& d) {
  auto* grid = d.findChild<QTableWidget*>(QStringLiteral("grdAddresses"));
  QVERIFY(grid);
  const auto click = [&](const char* name) { d.findChild<QPushButton*>(QString::fromLatin1(name))->click(); };
  grid->setCurrentCell(1, 1);
  click("btnMoveUp");  // bob, Ann
  click("btnAdd");
  TypeIntoCell(*grid, 2, 1, QStringLiteral("Cy"));
  TypeIntoCell(*grid, 2, 2, QStringLiteral("cy@example.org"));
  grid->item(1, 0)->setCheckState(Qt::Unchecked);
  grid->setCurrentCell(0, 1);
  click("btnDelete");
  click("btnMoveDown");  // Ann, the first row now, goes after Cy
}

const std::vector<TDialogEdit>& DialogEdits() {
  using E = mx::TCustomEmailAction;
  const auto list = [](mx::TMxCustomAddressList& (E::*of)() const) {
    return [of](E& e) { return ListText((e.*of)()); };
  };
  const QString edited = QStringLiteral("Cy <cy@example.org> on; Ann Example <ann@example.org> off");
  static const std::vector<TDialogEdit> rows = {
      {"TRecipientsEditor", "RecipientsList", EditAddresses, list(&E::RecipientsList), edited},
      {"TCopyToEditor", "CopyToList", EditAddresses, list(&E::CopyToList), edited},
      {"TBlindCopyToEditor", "BlindCopyToList", EditAddresses, list(&E::BlindCopyToList), edited},
      {"TReplyToEditor", "ReplyToList", EditAddresses, list(&E::ReplyToList), edited},
      {"TEmailBodyEditor", "BodyObject",
       [](QDialog& d) {
         d.findChild<QPlainTextEdit*>(QStringLiteral("txtBody"))
             ->setPlainText(QStringLiteral("Dear all,\n\n\tBye"));
       },
       [](E& e) { return QString::fromStdString(e.BodyObject().Text()); },
       QStringLiteral("Dear all,\n\n\tBye\n")},
      {"TEmailAttachmentsEditor", "AttachmentsObject",
       [](QDialog& d) {
         d.findChild<QPlainTextEdit*>(QStringLiteral("txtAttachments"))
             ->setPlainText(QStringLiteral(" a.txt \n\n   \nb c.txt"));
       },
       [](E& e) { return QString::fromStdString(e.AttachmentsObject().Text()); },
       QStringLiteral("a.txt\nb c.txt\n")},
  };
  return rows;
}

}  // namespace

class TPagesTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<host::THost> host_;
  QTemporaryDir scratch_;

  std::unique_ptr<host::TMxAction> NewAction(const char* cls) {
    auto a = host_->Actions().CreateAction(cls);
    if (!a) qFatal("no action class %s", cls);
    return a;
  }

  static QString ShotDir() { return QStringLiteral(QUILLON_SHOT_DIR); }

  // Leaves a picture of the page, as the user sees it, under the frame's class name.
  static void Shot(QWidget& page, const QString& name) {
    page.ensurePolished();
    if (page.layout()) page.layout()->activate();
    page.resize(page.sizeHint().expandedTo(QSize(460, 320)));
    QVERIFY(page.grab().save(ShotDir() + QLatin1Char('/') + name + QStringLiteral(".png")));
  }

  template <class W>
  static W* Get(QWidget& page, const char* name) {
    auto* w = page.findChild<W*>(QString::fromLatin1(name));
    if (!w) qFatal("no control %s", name);
    return w;
  }

 private slots:
  void initTestCase() {
    QDir().mkpath(ShotDir());
    // Passwords are encrypted with a key of the test's own, never the user's.
    if (qEnvironmentVariableIsEmpty("QUILLON_KEY_FILE"))
      qputenv("QUILLON_KEY_FILE", scratch_.filePath(QStringLiteral("key")).toLocal8Bit());
    host_ = std::make_unique<host::THost>(true);
    mx::MxRegister(*host_);
  }

  // The controls carry the object names the editor, its tests and any script that drives the
  // pages look them up by.
  void controlsNamed_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("TEmailOptionsFrame") << QStringLiteral("TEmailOptionsFrame")
                                        << QStringList{"chkUseEHLO", "chkAuthenticate", "chkSSL", "cboTLS"};
    QTest::newRow("TEmailWhoFrame") << QStringLiteral("TEmailWhoFrame")
                                    << QStringList{"cboMode", "chkIgnoreIndividualFailures"};
    QTest::newRow("TBodyFrame") << QStringLiteral("TBodyFrame")
                                << QStringList{"chkHTML", "txtPlainBody", "lblPlainBody"};
    QTest::newRow("TAttachmentsFrame")
        << QStringLiteral("TAttachmentsFrame") << QStringList{"txtAttachments", "txtAddFiles"};
    QTest::newRow("TNNTPFrame") << QStringLiteral("TNNTPFrame")
                                << QStringList{"chkAuthenticate", "txtUserID", "txtPassword"};
    QTest::newRow("TFTPOptionsFrame") << QStringLiteral("TFTPOptionsFrame") << QStringList{"pnlOverride"};
    QTest::newRow("TFTPScriptFrame") << QStringLiteral("TFTPScriptFrame")
                                     << QStringList{"grdItems", "actEdit", "actDelete", "actMoveUp",
                                                    "actMoveDown"};
    QTest::newRow("TFTPMoreOptionsFrame") << QStringLiteral("TFTPMoreOptionsFrame")
                                          << QStringList{"chkPassive", "chkLogging", "optAscii", "optBinary"};
    QTest::newRow("TFTPConnectFrame")
        << QStringLiteral("TFTPConnectFrame")
        << QStringList{"edtConnection", "chkPassive", "chkDetailedLogging", "optAscii", "optBinary"};
    QTest::newRow("TFTPServerFrame") << QStringLiteral("TFTPServerFrame")
                                     << QStringList{"chkGlobalOpt", "txtHost", "spPort", "txtUser",
                                                    "txtPassword"};
    QTest::newRow("TFTPDisconnectFrame")
        << QStringLiteral("TFTPDisconnectFrame") << QStringList{"cbConnection"};
    QTest::newRow("TFTPListDirFrame") << QStringLiteral("TFTPListDirFrame")
                                      << QStringList{"edtFileSpec", "cbMxVar", "chkToMxLog", "chkDetailed"};
    QTest::newRow("TFTPCreateDirFrame")
        << QStringLiteral("TFTPCreateDirFrame") << QStringList{"edtDir", "chkNoFail"};
    QTest::newRow("TFTPDeleteDirFrame")
        << QStringLiteral("TFTPDeleteDirFrame") << QStringList{"edtDir", "chkRecursive"};
    QTest::newRow("TFTPDeleteFileFrame") << QStringLiteral("TFTPDeleteFileFrame") << QStringList{"edtFile"};
    QTest::newRow("TFTPUploadFileFrame")
        << QStringLiteral("TFTPUploadFileFrame")
        << QStringList{"edtDir",        "edtFile",  "edtRemoteFile", "chkRecursive",
                       "chkCheckSizes", "chkRetry", "chkThrottle",   "edtThrottleSpeed"};
    QTest::newRow("TFTPUploadUpdateFrame")
        << QStringLiteral("TFTPUploadUpdateFrame")
        << QStringList{
               "cbUpdateOnly", "cbDoAllowGap", "edtGapLength", "cbAutoSetTimezone", "cbForceSetTimezone",
               "edtHrs",       "edtMinutes",   "rbAhead",      "rbBehind"};
    QTest::newRow("TFTPDownloadFileFrame")
        << QStringLiteral("TFTPDownloadFileFrame")
        << QStringList{"edtFile",     "edtDir",    "rbUseRemote", "rbSpecifyFilename",
                       "edtFilename", "chkResume", "chkOverwrite"};
    QTest::newRow("TFTPRenameFileFrame")
        << QStringLiteral("TFTPRenameFileFrame") << QStringList{"edtFile", "edtNewName"};
    QTest::newRow("TFTPGetFileSizeFrame")
        << QStringLiteral("TFTPGetFileSizeFrame") << QStringList{"edtFileName", "cbMxVar"};
    QTest::newRow("TFTPChangeDirFrame")
        << QStringLiteral("TFTPChangeDirFrame") << QStringList{"edtRemoteDir"};
    QTest::newRow("TFTPGetRemoteDirFrame")
        << QStringLiteral("TFTPGetRemoteDirFrame") << QStringList{"cbMxVar"};
    QTest::newRow("TFTPCheckIfConnectedFrame")
        << QStringLiteral("TFTPCheckIfConnectedFrame") << QStringList{"rbFail", "rbChild"};
    QTest::newRow("TFTPSendCMDFrame")
        << QStringLiteral("TFTPSendCMDFrame") << QStringList{"edtCommand", "edtResponseCode"};
    QTest::newRow("TFTPWaitForFileFrame")
        << QStringLiteral("TFTPWaitForFileFrame")
        << QStringList{"edtFileName", "rbExist",        "rbNotExist",
                       "rbChange",    "rbStopChanging", "cbFailIfDoesntExist"};
    QTest::newRow("TWaitOptionsFrame")
        << QStringLiteral("TWaitOptionsFrame")
        << QStringList{"edtPollWait", "cmbPollScale", "cbTimeout", "edtTimeout", "cmbTimeoutScale"};
    QTest::newRow("TFTPMirrorFrame") << QStringLiteral("TFTPMirrorFrame")
                                     << QStringList{"rbLocalToRemote",    "rbRemoteToLocal",  "txtLocalDir",
                                                    "chkUseCurrentDir",   "txtRemoteDir",     "chkRecursive",
                                                    "chkMirrorEmptyDirs", "chkDeleteOrphans", "chkLogFiles"};
    QTest::newRow("TFTPMirrorOptFrame")
        << QStringLiteral("TFTPMirrorOptFrame")
        << QStringList{"chkCheckFileCRC", "chkCheckFileSize", "chkCheckFileDate", "chkSkipSkewCheck"};
    QTest::newRow("TFTPMirrorExcludeFrame")
        << QStringLiteral("TFTPMirrorExcludeFrame")
        << QStringList{"chkUseFileSpec", "txtFileSpec", "grdExcludeItems", "chkLogExcludedFiles"};
    QTest::newRow("TMxTelnetScrptFrame")
        << QStringLiteral("TMxTelnetScrptFrame") << QStringList{"grdItems", "actMoveUp", "actMoveDown"};
    QTest::newRow("TInetHTTPGetFrame")
        << QStringLiteral("TInetHTTPGetFrame")
        << QStringList{"txtURL",       "spinPort",      "txtUsername", "txtPassword",   "rbCheckExists",
                       "rbSaveToFile", "rbSavetoMxVar", "txtFileName", "cbMxVariables", "chkOverwrite"};
    QTest::newRow("TICQFrame") << QStringLiteral("TICQFrame")
                               << QStringList{"txtICQ",  "txtPassword", "txtToICQ", "txtMessage",
                                              "rbToSMS", "txtServer",   "spPort"};
    QTest::newRow("TEmailGlobalOptionsFrame")
        << QStringLiteral("TEmailGlobalOptionsFrame")
        << QStringList{"txtHost",         "spPort", "txtUserID", "txtPassword",       "chkUseEHLO",
                       "chkAuthenticate", "chkSSL", "cboTLS",    "cboDefaultEncoding"};
    QTest::newRow("TFTPGlobalOptionsFrame") << QStringLiteral("TFTPGlobalOptionsFrame")
                                            << QStringList{"txtHost", "spPort", "txtUser", "txtPassword"};
  }

  void controlsNamed() {
    QFETCH(QString, frame);
    QFETCH(QStringList, names);
    std::unique_ptr<QWidget> page = pages::CreateActionPage(frame.toStdString());
    if (!page) page = pages::CreateOptionsPage(frame.toStdString());
    QVERIFY2(page, "no factory");
    QStringList missing;
    for (const QString& name : names)
      if (!page->findChild<QObject*>(name)) missing << name;
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(", "))));
  }

  void pagesInRegisteredOrder_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("e-mail") << "TEmailAction" << QStringList{"SMTP",   "Sender",  "Recipients", "Message",
                                                             "Attach", "Copy To", "BCC",        "Reply To"};
    QTest::newRow("FTP connect") << "TFTPConnectionAction"
                                 << QStringList{"FTP Connection", "Server && Authentication", "FTP Proxy"};
    QTest::newRow("FTP upload") << "TFTPUploadFileAction" << QStringList{"Upload file", "Update Options"};
    QTest::newRow("FTP wait") << "TFTPWaitForFileAction" << QStringList{"Wait For File", "Wait Options"};
    QTest::newRow("FTP script") << "TFTPAction"
                                << QStringList{"Server && Authentication", "Options", "FTP Proxy", "Script"};
    QTest::newRow("Telnet") << "TTelnetClientAction" << QStringList{"Options", "Script"};
    QTest::newRow("HTTP") << "TMxInetHTTPGetAction" << QStringList{"HTTP Get File", "HTTP Proxy"};
    QTest::newRow("news") << "TMxNNTPAction" << QStringList{"NNTP", "Message", "Attach"};
    QTest::newRow("FTP mirror") << "TFTPMirrorAction"
                                << QStringList{"FTP Mirror", "Overwrite Behaviour", "Include/Exclude Files"};
    QTest::newRow("ICQ") << "TICQAction" << QStringList{"Send ICQ Message"};
  }

  // An action's pages come in the registered order with their captions; passwords are masked on
  // every page that takes one.
  void pagesInRegisteredOrder() {
    QFETCH(QString, action);
    QFETCH(QStringList, captions);
    QStringList got;
    for (const std::string& cls : pages::ActionPageClasses(host_->Actions(), action.toStdString())) {
      auto page = pages::CreateActionPage(cls);
      QVERIFY2(page, cls.c_str());
      got << page->PageName();
      for (auto* pw : page->findChildren<QLineEdit*>(QStringLiteral("txtPassword")))
        QCOMPARE(pw->echoMode(), QLineEdit::Password);
    }
    QCOMPARE(got, captions);
  }

  void pagesLookNative_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("action");
    QStringList seen;
    for (const auto& a : host_->Actions().Actions())
      for (const std::string& cls : pages::ActionPageClasses(host_->Actions(), a.Class.Name))
        if (!seen.contains(QString::fromStdString(cls))) {
          seen << QString::fromStdString(cls);
          QTest::newRow(cls.c_str()) << QString::fromStdString(cls) << QString::fromStdString(a.Class.Name);
        }
    for (const char* options : {"TEmailGlobalOptionsFrame", "TFTPGlobalOptionsFrame"})
      QTest::newRow(options) << options << QString();
  }

  // Every page, at its usual size.
  void pagesLookNative() {
    QFETCH(QString, frame);
    QFETCH(QString, action);
    std::unique_ptr<QWidget> page;
    if (action.isEmpty()) {
      page = pages::CreateOptionsPage(frame.toStdString());
    } else {
      auto p = pages::CreateActionPage(frame.toStdString());
      QVERIFY2(p, "no factory");
      p->ReadActionData(*NewAction(action.toLatin1().constData()));
      page = std::move(p);
    }
    page->resize(page->sizeHint().expandedTo(QSize(460, 320)));
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.get()));

    LooksNative(*page);
  }

  void optionPagesRegistered() {
    QStringList optionCaptions;
    for (const char* cls : {"TMxEmailOptions", "TMxFTPOptions"})
      for (const std::string& page : pages::OptionPageClasses(host_->Options(), cls))
        optionCaptions << pages::CreateOptionsPage(page)->GetPageName();
    QCOMPARE(optionCaptions, QStringList({"Email Options", "FTP Options"}));
    QCOMPARE(pages::DisplayName(QStringLiteral("Server && Authentication")),
             QStringLiteral("Server & Authentication"));
  }

  void roundTrip_data() {
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < RoundTrips().size(); ++i)
      QTest::newRow((std::string(RoundTrips()[i].Frame) + "/" + RoundTrips()[i].Action).c_str()) << int(i);
  }

  // What the page reads from one action it writes into a fresh one, property for property.
  void roundTrip() {
    QFETCH(int, row);
    const TRoundTrip& r = RoundTrips()[static_cast<std::size_t>(row)];
    auto source = NewAction(r.Action);
    for (const auto& [name, text] : r.Values) source->SetPropertyText(name, text);
    if (r.Fill) r.Fill(*source);

    auto page = pages::CreateActionPage(r.Frame);
    QVERIFY(page);
    page->InitFrame(nullptr);
    page->InitPage(*source);
    page->ReadActionData(*source);
    auto target = NewAction(r.Action);
    page->WriteActionData(*target);

    std::vector<std::string> names = r.Objects;
    for (const auto& v : r.Values) names.push_back(v.first);
    const auto expected = Snapshot(*source, names);
    QCOMPARE(Snapshot(*target, names), expected);
    // The fresh action really changed: the values are not its defaults.
    QVERIFY(Snapshot(*NewAction(r.Action), names) != expected);
    if (r.Secret) QCOMPARE(r.Secret(*target), r.Secret(*source));
    Shot(*page, QString::fromLatin1(r.Frame) + QLatin1Char('-') + QString::fromLatin1(r.Action));
  }

  void smtpSecurity_data() {
    QTest::addColumn<bool>("optionsPage");
    QTest::addColumn<QString>("step");
    QTest::addColumn<int>("tlsBefore");
    QTest::addColumn<int>("portAfter");
    QTest::addColumn<int>("tlsAfter");
    QTest::addColumn<bool>("sslAfter");
    for (bool options : {false, true}) {
      const char* p = options ? "options/" : "smtp/";
      QTest::newRow((std::string(p) + "tick SSL").c_str()) << options << "tickSSL" << 0 << 465 << 3 << true;
      QTest::newRow((std::string(p) + "tick SSL, TLS set").c_str())
          << options << "tickSSL" << 2 << 465 << 2 << true;
      QTest::newRow((std::string(p) + "clear SSL").c_str()) << options << "clearSSL" << 1 << 25 << 0 << false;
      QTest::newRow((std::string(p) + "choose TLS").c_str())
          << options << "chooseTLS1" << 0 << 25 << 1 << true;
      QTest::newRow((std::string(p) + "back to no TLS").c_str())
          << options << "chooseTLS0" << 2 << 25 << 0 << true;
    }
  }

  // SSL, TLS and port on the SMTP page and the global e-mail options page.
  void smtpSecurity() {
    QFETCH(bool, optionsPage);
    QFETCH(QString, step);
    QFETCH(int, tlsBefore);
    QFETCH(int, portAfter);
    QFETCH(int, tlsAfter);
    QFETCH(bool, sslAfter);

    // The starting state comes from the object: filling it must set nothing off.
    const bool sslBefore = step != QStringLiteral("tickSSL");
    std::unique_ptr<QWidget> page;
    mx::TMxEmailOptions options;
    auto action = NewAction("TEmailAction");
    if (optionsPage) {
      options.SetSMTPPort(25);
      options.SetSMTPSSL(sslBefore);
      options.SetSMTPUseTLS(static_cast<mx::TIdUseTLS>(tlsBefore));
      auto p = pages::CreateOptionsPage("TEmailGlobalOptionsFrame");
      p->ReadOptions(options);
      page = std::move(p);
    } else {
      action->SetPropertyText("Port", "25");
      action->SetPropertyText("UseSSL", sslBefore ? "true" : "false");
      action->SetPropertyText("UseTLS", std::to_string(tlsBefore));
      auto p = pages::CreateActionPage("TEmailOptionsFrame");
      p->ReadActionData(*action);
      page = std::move(p);
    }
    auto* ssl = Get<QCheckBox>(*page, "chkSSL");
    auto* tls = Get<QComboBox>(*page, "cboTLS");
    auto* port = Get<QSpinBox>(*page, "spPort");
    QCOMPARE(port->value(), 25);
    QCOMPARE(tls->currentIndex(), tlsBefore);
    QCOMPARE(ssl->isChecked(), sslBefore);

    if (step == QStringLiteral("tickSSL") || step == QStringLiteral("clearSSL")) ssl->click();
    if (step.startsWith(QStringLiteral("chooseTLS"))) tls->setCurrentIndex(step.back().digitValue());

    QCOMPARE(port->value(), portAfter);
    QCOMPARE(tls->currentIndex(), tlsAfter);
    QCOMPARE(ssl->isChecked(), sslAfter);

    // The list's index is the TLS mode written.
    if (optionsPage) {
      auto* p = dynamic_cast<pages::TMxOptionsPage*>(page.get());
      p->WriteOptions(options);
      QCOMPARE(int(options.GetSMTPUseTLS()), tlsAfter);
      QCOMPARE(options.GetSMTPPort(), portAfter);
    } else {
      dynamic_cast<pages::TMxActionPage*>(page.get())->WriteActionData(*action);
      QCOMPARE(action->GetPropertyText("UseTLS"), std::string(mx::k_use_tls_names[std::size_t(tlsAfter)]));
      QCOMPARE(action->GetPropertyText("Port"), std::to_string(portAfter));
    }
    Shot(*page, QString::fromLatin1(optionsPage ? "TEmailGlobalOptionsFrame" : "TEmailOptionsFrame"));
  }

  void panelFollowsItsCheckBox_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("gate");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("panel");
    QTest::addColumn<bool>("enabledWhenTicked");
    QTest::newRow("FTP server") << "TFTPServerFrame"
                                << "TFTPConnectionAction"
                                << "chkGlobalOpt"
                                << "UseGlobalOpt"
                                << "pnlOverride" << false;
    QTest::newRow("FTP script server") << "TFTPOptionsFrame"
                                       << "TFTPAction"
                                       << "chkUseGlobalOptions"
                                       << "UseGlobalOptions"
                                       << "pnlOverride" << false;
    QTest::newRow("FTP proxy") << "TFTPNewProxyFrame"
                               << "TFTPConnectionAction"
                               << "chkUseProxy"
                               << "UseProxy"
                               << "pnlProxy" << true;
    QTest::newRow("FTP script proxy") << "TFTPProxyFrame"
                                      << "TFTPAction"
                                      << "chkUseProxy"
                                      << "UseProxy"
                                      << "pnlProxy" << true;
    QTest::newRow("HTTP proxy") << "THTTPProxyFrame"
                                << "TMxInetHTTPGetAction"
                                << "chkUseProxy"
                                << "UseProxy"
                                << "pnlProxy" << true;
  }

  // The fields a check box makes irrelevant (the global server in use, no proxy) are greyed out,
  // from the read on and as the box is toggled.
  void panelFollowsItsCheckBox() {
    QFETCH(QString, frame);
    QFETCH(QString, action);
    QFETCH(QString, gate);
    QFETCH(QString, property);
    QFETCH(QString, panel);
    QFETCH(bool, enabledWhenTicked);
    auto a = NewAction(action.toLatin1().constData());
    auto page = pages::CreateActionPage(frame.toStdString());
    auto* box = Get<QCheckBox>(*page, gate.toLatin1().constData());
    auto* fields = Get<QWidget>(*page, panel.toLatin1().constData());
    for (bool ticked : {true, false}) {
      a->SetPropertyText(property.toStdString(), ticked ? "true" : "false");
      page->ReadActionData(*a);
      QCOMPARE(fields->isEnabled(), ticked == enabledWhenTicked);
      box->toggle();
      QCOMPARE(fields->isEnabled(), ticked != enabledWhenTicked);
    }
  }

  void authenticateLocksEhlo_data() {
    QTest::addColumn<bool>("optionsPage");
    QTest::newRow("smtp") << false;
    QTest::newRow("options") << true;
  }

  void authenticateLocksEhlo() {
    QFETCH(bool, optionsPage);
    std::unique_ptr<QWidget> page;
    if (optionsPage)
      page = pages::CreateOptionsPage("TEmailGlobalOptionsFrame");
    else
      page = pages::CreateActionPage("TEmailOptionsFrame");
    auto* auth = Get<QCheckBox>(*page, "chkAuthenticate");
    auto* ehlo = Get<QCheckBox>(*page, "chkUseEHLO");
    QVERIFY(!ehlo->isChecked());
    auth->click();
    QVERIFY(ehlo->isChecked());
    QVERIFY(!ehlo->isEnabled());
    auth->click();
    QVERIFY(ehlo->isEnabled());
    QVERIFY(ehlo->isChecked());

    // An object read with authentication on shows EHLO locked as well.
    mx::TMxEmailOptions options;
    options.SetSMTPAuth(true);
    auto action = NewAction("TEmailAction");
    action->SetPropertyText("Authenticate", "true");
    if (optionsPage)
      dynamic_cast<pages::TMxOptionsPage*>(page.get())->ReadOptions(options);
    else
      dynamic_cast<pages::TMxActionPage*>(page.get())->ReadActionData(*action);
    QVERIFY(ehlo->isChecked());
    QVERIFY(!ehlo->isEnabled());
  }

  // The global-options box shows the global values, locks the connection panel, and leaves the
  // action's own values as they were.
  void globalOptionsOverride() {
    auto* global = dynamic_cast<mx::TMxEmailOptions*>(mx::EmailOptions());
    QVERIFY(global);
    global->SetSMTPHost("global.example.org");
    global->SetSMTPPort(587);
    global->SetSMTPUser("global-user");
    global->SetSMTPUseTLS(mx::utUseExplicitTLS);
    global->SetSMTPSSL(true);

    auto action = NewAction("TEmailAction");
    action->SetPropertyText("Host", "own.example.org");
    action->SetPropertyText("Port", "25");
    action->SetPropertyText("UserId", "own-user");
    auto page = pages::CreateActionPage("TEmailOptionsFrame");
    page->ReadActionData(*action);
    auto* host = Get<QLineEdit>(*page, "txtHost");
    auto* port = Get<QSpinBox>(*page, "spPort");
    auto* useGlobal = Get<QCheckBox>(*page, "chkUseGlobalOptions");
    QCOMPARE(host->text(), QStringLiteral("own.example.org"));
    QVERIFY(host->isEnabled());

    useGlobal->click();
    QCOMPARE(host->text(), QStringLiteral("global.example.org"));
    QCOMPARE(port->value(), 587);
    QCOMPARE(Get<QComboBox>(*page, "cboTLS")->currentIndex(), 3);
    for (const char* name : {"txtHost", "spPort", "txtUserID", "txtPassword", "chkUseEHLO", "chkAuthenticate",
                             "chkSSL", "cboTLS"})
      QVERIFY2(!Get<QWidget>(*page, name)->isEnabled(), name);
    Shot(*page, QStringLiteral("TEmailOptionsFrame-global"));

    page->WriteActionData(*action);
    auto& email = dynamic_cast<mx::TCustomEmailAction&>(*action);
    QVERIFY(email.GetUseGlobalOptions());
    QCOMPARE(email.OwnHost(), std::string("own.example.org"));
    QCOMPARE(email.OwnPort(), 25);
    QCOMPARE(email.OwnUserId(), std::string("own-user"));

    // Switched off again: the action's own values come back, editable.
    useGlobal->click();
    QCOMPARE(host->text(), QStringLiteral("own.example.org"));
    QCOMPARE(port->value(), 25);
    QVERIFY(host->isEnabled());

    // An action saved with the global options opens with them shown and locked.
    auto reopened = pages::CreateActionPage("TEmailOptionsFrame");
    reopened->ReadActionData(*action);
    QCOMPARE(Get<QLineEdit>(*reopened, "txtHost")->text(), QStringLiteral("global.example.org"));
    QVERIFY(!Get<QLineEdit>(*reopened, "txtHost")->isEnabled());
  }

  void scriptGrids_data() {
    QTest::addColumn<QString>("frame");
    QTest::newRow("FTP script") << "TFTPScriptFrame";
    QTest::newRow("Telnet script") << "TMxTelnetScrptFrame";
  }

  // Move up and down swap a step with its neighbour, a double click edits the step under the
  // mouse, a cancelled edit changes nothing, and the action sees the steps only on write.
  void scriptGrids() {
    QFETCH(QString, frame);
    const bool ftp = frame == QStringLiteral("TFTPScriptFrame");
    const char* key = ftp ? "RemoteDir" : "SendText";
    auto action = NewAction(ftp ? "TFTPAction" : "TTelnetClientAction");
    for (const char* name : {"a", "b", "c"}) {
      if (ftp) {
        auto item = std::make_shared<mx::TFTPScriptChangeDir>();
        item->SetRemoteDir(name);
        dynamic_cast<mx::TCustomFTPAction&>(*action).AddItem(item);
      } else {
        dynamic_cast<mx::TCustomTelnetClientAction&>(*action).AddScriptItem(name, "$", 5, true, true);
      }
    }
    const auto actionOrder = [&] {
      QStringList names;
      if (ftp) {
        auto& a = dynamic_cast<mx::TCustomFTPAction&>(*action);
        for (int i = 0; i < a.GetItemCount(); ++i)
          names << QString::fromStdString(a.GetItems(i)->GetPropertyText(key));
      } else {
        auto& a = dynamic_cast<mx::TCustomTelnetClientAction&>(*action);
        for (int i = 0; i < a.GetScriptItemCount(); ++i)
          names << QString::fromStdString(a.GetScriptItem(i)->GetSendText());
      }
      return names;
    };

    auto owned = pages::CreateActionPage(frame.toStdString());
    auto* page = dynamic_cast<pages::TScriptGridFrame*>(owned.get());
    QVERIFY(page);
    QStringList edited;
    bool confirm = true;
    page->SetItemEditor([&](host::TNbXMLObject& item, QWidget*) {
      edited << QString::fromStdString(item.GetPropertyText(key));
      item.SetPropertyText(key, item.GetPropertyText(key) + "2");
      return confirm;
    });
    page->ReadActionData(*action);
    auto* grid = Get<QTableWidget>(*page, "grdItems");
    const auto pageOrder = [&] {
      QStringList names;
      for (const auto& item : page->Items()) names << QString::fromStdString(item->GetPropertyText(key));
      return names;
    };

    grid->setCurrentCell(0, 0);
    Get<QAction>(*page, "actMoveDown")->trigger();
    QCOMPARE(pageOrder(), QStringList({"b", "a", "c"}));
    QCOMPARE(grid->currentRow(), 1);
    grid->setCurrentCell(2, 0);
    Get<QAction>(*page, "actMoveUp")->trigger();
    QCOMPARE(pageOrder(), QStringList({"b", "c", "a"}));
    grid->setCurrentCell(0, 0);
    Get<QAction>(*page, "actMoveUp")->trigger();  // the first step stays first
    QCOMPARE(pageOrder(), QStringList({"b", "c", "a"}));
    QCOMPARE(actionOrder(), QStringList({"a", "b", "c"}));

    page->resize(520, 320);
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page));
    const QPoint cell = grid->visualItemRect(grid->item(1, 0)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell);
    QCOMPARE(edited, QStringList({"c"}));
    QCOMPARE(pageOrder(), QStringList({"b", "c2", "a"}));
    confirm = false;
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell);
    QCOMPARE(pageOrder(), QStringList({"b", "c2", "a"}));
    Shot(*page, frame);

    page->WriteActionData(*action);
    QCOMPARE(actionOrder(), QStringList({"b", "c2", "a"}));
  }

  void scriptItemEditors_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("form");
    QTest::addColumn<bool>("confirm");
    for (bool confirm : {true, false}) {
      const char* button = confirm ? " OK" : " Cancel";
      QTest::newRow((std::string("FTP") + button).c_str()) << "TFTPScriptFrame"
                                                           << "TFTPItemEditForm" << confirm;
      QTest::newRow((std::string("Telnet") + button).c_str()) << "TMxTelnetScrptFrame"
                                                              << "TTelnetScriptEditor" << confirm;
    }
  }

  // A script page edits a step in the step's own form: OK writes the typed values into the
  // step, Cancel leaves it as it was.
  void scriptItemEditors() {
    QFETCH(QString, frame);
    QFETCH(QString, form);
    QFETCH(bool, confirm);
    const bool ftp = frame == QStringLiteral("TFTPScriptFrame");
    const char* key = ftp ? "RemoteDir" : "SendText";
    auto action = NewAction(ftp ? "TFTPAction" : "TTelnetClientAction");
    if (ftp) {
      auto item = std::make_shared<mx::TFTPScriptChangeDir>();
      item->SetRemoteDir("/old");
      dynamic_cast<mx::TCustomFTPAction&>(*action).AddItem(item);
    } else {
      dynamic_cast<mx::TCustomTelnetClientAction&>(*action).AddScriptItem("old", "$", 5, true, true);
    }
    auto owned = pages::CreateActionPage(frame.toStdString());
    auto* page = dynamic_cast<pages::TScriptGridFrame*>(owned.get());
    page->ReadActionData(*action);
    Get<QTableWidget>(*page, "grdItems")->setCurrentCell(0, 0);

    QString opened;
    const auto modal = WhenModal([&](QDialog& d) {
      opened = d.objectName();
      auto* field = d.findChild<QLineEdit*>(QStringLiteral("ed") + QString::fromLatin1(key));
      QVERIFY(field);
      field->setText(QStringLiteral("new value"));
      LooksNative(d);
      if (confirm) Shot(d, form);
      ClickButton(d, confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
    });
    Get<QAction>(*page, "actEdit")->trigger();
    QCOMPARE(opened, form);
    page->WriteActionData(*action);
    const std::string stored =
        ftp ? dynamic_cast<mx::TCustomFTPAction&>(*action).GetItems(0)->GetPropertyText(key)
            : dynamic_cast<mx::TCustomTelnetClientAction&>(*action).GetScriptItem(0)->GetSendText();
    QCOMPARE(stored, confirm ? std::string("new value") : std::string(ftp ? "/old" : "old"));
  }

  // A value the step refuses keeps the form open and the step whole, though the fields before
  // it were fine.
  void scriptItemRefusedValue() {
    TPickyItem item;
    pages::TItemPropertiesDialog form(item, QStringLiteral("Picky"));
    form.findChild<QLineEdit*>(QStringLiteral("edLabel"))->setText(QStringLiteral("new"));
    form.findChild<QLineEdit*>(QStringLiteral("edTarget"))->setText(QStringLiteral("refused"));
    bool warned = false;
    const auto modal = WhenModal([&](QDialog& box) { warned = qobject_cast<QMessageBox*>(&box) != nullptr; });
    form.accept();
    QVERIFY(warned);
    QVERIFY(form.result() != QDialog::Accepted);
    QCOMPARE(item.FLabel, std::string("old"));
    QCOMPARE(item.FTarget, std::string("old"));
  }

  // Whole numbers of a step are entered in a spin box within the range a step can hold.
  void scriptItemNumbers() {
    mx::TTelnetScriptItem item("s", "$", 2000, true, false);
    pages::TTelnetScriptEditor form(item);
    auto* wait = form.findChild<QSpinBox*>(QStringLiteral("edWaitTimeout"));
    QVERIFY(wait);
    QCOMPARE(wait->value(), 2000);
    QCOMPARE(wait->minimum(), 0);
    QCOMPARE(wait->maximum(), 1000000000);
    wait->setValue(45000);
    form.accept();
    QCOMPARE(form.result(), int(QDialog::Accepted));
    QCOMPARE(item.GetWaitTimeout(), 45000);
  }

  void attachmentsTrimmed_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("stored");
    QTest::newRow("blank line between") << "a.txt\n\nb.txt" << QStringList{"a.txt", "b.txt"};
    QTest::newRow("line of spaces") << "a.txt\n   \t\nb.txt\n" << QStringList{"a.txt", "b.txt"};
    QTest::newRow("blanks around names") << "  a b.txt  \n\tc.txt" << QStringList{"a b.txt", "c.txt"};
    QTest::newRow("only blanks") << " \n \n" << QStringList{};
  }

  void attachmentsTrimmed() {
    QFETCH(QString, typed);
    QFETCH(QStringList, stored);
    for (const char* cls : {"TEmailAction", "TMxNNTPAction"}) {
      auto action = NewAction(cls);
      auto page = pages::CreateActionPage("TAttachmentsFrame");
      page->ReadActionData(*action);
      Get<QPlainTextEdit>(*page, "txtAttachments")->setPlainText(typed);
      page->WriteActionData(*action);
      const rtl::TStringList& list = std::string(cls) == "TEmailAction"
                                         ? dynamic_cast<mx::TCustomEmailAction&>(*action).AttachmentsObject()
                                         : dynamic_cast<mx::TMxNNTPAction&>(*action).AttachmentsObject();
      QStringList got;
      for (const auto& s : list) got << QString::fromStdString(s);
      QCOMPARE(got, stored);
    }
  }

  // Exclude rules are picked from the names the mirror understands; a rule left without a value
  // is dropped, since it would exclude nothing.
  void mirrorExcludeRules() {
    auto action = NewAction("TFTPMirrorAction");
    action->SetPropertyText("ExcludeList", "File Name=tmp\n");
    auto page = pages::CreateActionPage("TFTPMirrorExcludeFrame");
    page->ReadActionData(*action);
    auto* grid = Get<QTableWidget>(*page, "grdExcludeItems");
    QCOMPARE(grid->rowCount(), 1);
    auto* rule = static_cast<QComboBox*>(grid->cellWidget(0, 0));
    QStringList names;
    for (int i = 0; i < rule->count(); ++i) names << rule->itemText(i);
    QCOMPARE(names, (QStringList{"File Name", "File Mask", "RegEx"}));

    Get<QPushButton>(*page, "grdExcludeItemsAdd")->click();
    static_cast<QComboBox*>(grid->cellWidget(1, 0))->setCurrentText(QStringLiteral("RegEx"));
    grid->item(1, 1)->setText(QStringLiteral("\\.tmp$"));
    Get<QPushButton>(*page, "grdExcludeItemsAdd")->click();  // left empty
    grid->setCurrentCell(0, 1);
    Get<QPushButton>(*page, "grdExcludeItemsDelete")->click();
    page->WriteActionData(*action);
    QCOMPARE(action->GetPropertyText("ExcludeList"), std::string("RegEx=\\.tmp$\n"));
  }

  void waitOptionsShown_data() {
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("unit");
    QTest::newRow("7200 s") << 7200 << 2 << "hours";
    QTest::newRow("3600 s") << 3600 << 1 << "hour";
    QTest::newRow("5400 s") << 5400 << 90 << "minutes";
    QTest::newRow("60 s") << 60 << 1 << "minute";
    QTest::newRow("90 s") << 90 << 90 << "seconds";
    QTest::newRow("1 s") << 1 << 1 << "second";
  }

  // Shown in the largest unit that divides the seconds; written back as the same seconds.
  void waitOptionsShown() {
    QFETCH(int, seconds);
    QFETCH(int, number);
    QFETCH(QString, unit);
    auto action = NewAction("TFTPWaitForFileAction");
    auto& wait = dynamic_cast<host::TBaseWaitAction&>(*action);
    wait.SetPollFreq(seconds);
    wait.SetWaitTimeout(seconds);
    auto page = pages::CreateActionPage("TWaitOptionsFrame");
    page->ReadActionData(*action);
    QCOMPARE(Get<QSpinBox>(*page, "edtPollWait")->value(), number);
    QCOMPARE(Get<QComboBox>(*page, "cmbPollScale")->currentText(), unit);
    QCOMPARE(Get<QSpinBox>(*page, "edtTimeout")->value(), number);
    QCOMPARE(Get<QComboBox>(*page, "cmbTimeoutScale")->currentText(), unit);
    QVERIFY(Get<QCheckBox>(*page, "cbTimeout")->isChecked());
    auto fresh = NewAction("TFTPWaitForFileAction");
    page->WriteActionData(*fresh);
    QCOMPARE(dynamic_cast<host::TBaseWaitAction&>(*fresh).GetPollFreq(), seconds);
    QCOMPARE(dynamic_cast<host::TBaseWaitAction&>(*fresh).GetWaitTimeout(), seconds);
  }

  // A number typed in a chosen unit is stored in seconds; the time-out only while it is ticked.
  void waitOptionsWritten() {
    auto action = NewAction("TFTPWaitForFileAction");
    auto page = pages::CreateActionPage("TWaitOptionsFrame");
    page->ReadActionData(*action);
    auto* timeoutBox = Get<QCheckBox>(*page, "cbTimeout");
    auto* timeout = Get<QSpinBox>(*page, "edtTimeout");
    auto* timeoutScale = Get<QComboBox>(*page, "cmbTimeoutScale");
    QVERIFY(!timeoutBox->isChecked());
    QVERIFY(!timeout->isEnabled());
    QVERIFY(!timeoutScale->isEnabled());
    Get<QSpinBox>(*page, "edtPollWait")->setValue(3);
    Get<QComboBox>(*page, "cmbPollScale")->setCurrentIndex(pages::tsMinutes);
    timeoutBox->click();
    QVERIFY(timeout->isEnabled());
    timeout->setValue(2);
    timeoutScale->setCurrentIndex(pages::tsHours);
    Shot(*page, QStringLiteral("TWaitOptionsFrame"));
    page->WriteActionData(*action);
    auto& wait = dynamic_cast<host::TBaseWaitAction&>(*action);
    QCOMPARE(wait.GetPollFreq(), 180);
    QCOMPARE(wait.GetWaitTimeout(), 7200);

    timeoutBox->click();
    page->WriteActionData(*action);
    QCOMPARE(wait.GetWaitTimeout(), 0);
    QCOMPARE(pages::ToSeconds(999999, pages::tsHours), INT_MAX);
  }

  // Every editor the package registers can be made, looked up by its action and property.
  void propertyEditorsRegistered() {
    const auto& registered = host_->Actions().PropertyEditors();
    QCOMPARE(registered.size(), std::size_t(7));
    for (const auto& r : registered) {
      auto editor = pages::CreatePropertyEditorFor(host_->Actions(), r.ActionClass, r.PropertyName);
      QVERIFY2(editor, r.EditorClass.c_str());
      QCOMPARE(editor->HasDialog(), r.PropertyName != "Mode");
    }
    QVERIFY(!pages::CreatePropertyEditorFor(host_->Actions(), "TEmailAction", "Subject"));
    QVERIFY(!pages::CreatePropertyEditor("TNoSuchEditor"));
  }

  void modeEditor_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("Normal") << "Normal" << 0 << "Normal";
    QTest::newRow("Individual") << "Individual" << 1 << "Individual";
    QTest::newRow("other case") << "individual" << 0 << "Normal";
    QTest::newRow("trailing blank") << "Individual " << 0 << "Normal";
    QTest::newRow("empty") << "" << 0 << "Normal";
  }

  // The Mode editor's two texts: only "Individual" stores 1, any other value shows "Normal".
  void modeEditor() {
    QFETCH(QString, chosen);
    QFETCH(int, stored);
    QFETCH(QString, shown);
    auto editor = pages::CreatePropertyEditorFor(host_->Actions(), "TEmailAction", "Mode");
    QCOMPARE(editor->GetValues(), QStringList({"Normal", "Individual"}));
    auto action = NewAction("TEmailAction");
    action->SetPropertyText("Mode", "1");
    editor->SetValue(*action, chosen);
    QCOMPARE(action->GetPropertyText("Mode"), std::to_string(stored));
    QCOMPARE(editor->GetValue(*action), shown);
    for (int odd : {2, -1, 100}) QCOMPARE(pages::EmailModeText(odd), QStringLiteral("Normal"));
  }

  void dialogEditors_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("confirm");
    for (std::size_t i = 0; i < DialogEdits().size(); ++i)
      for (bool confirm : {true, false})
        QTest::newRow((std::string(DialogEdits()[i].Editor) + (confirm ? " OK" : " Cancel")).c_str())
            << int(i) << confirm;
  }

  // Each dialog editor opens on the action's property: OK writes the user's edit into that
  // property alone, Cancel leaves the whole action as it was.
  void dialogEditors() {
    QFETCH(int, row);
    QFETCH(bool, confirm);
    const TDialogEdit& r = DialogEdits()[static_cast<std::size_t>(row)];
    auto action = NewAction("TEmailAction");
    FillEmail(*action);
    const auto before = Snapshot(*action, EmailEditedProperties());
    auto editor = pages::CreatePropertyEditorFor(host_->Actions(), "TEmailAction", r.Property);
    QVERIFY(editor);
    QCOMPARE(pages::PropertyEditorClass(host_->Actions(), "TEmailAction", r.Property), std::string(r.Editor));

    bool driven = false;
    const auto modal = WhenModal([&](QDialog& d) {
      r.Drive(d);
      LooksNative(d);
      if (confirm) Shot(d, d.objectName());
      ClickButton(d, confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
      driven = true;
    });
    QCOMPARE(editor->Edit(*action, nullptr), confirm);
    QVERIFY(driven);

    auto& email = dynamic_cast<mx::TCustomEmailAction&>(*action);
    if (confirm) {
      QCOMPARE(r.Read(email), r.Expected);
      // Nothing else moved.
      auto untouched = NewAction("TEmailAction");
      FillEmail(*untouched);
      for (const TDialogEdit& other : DialogEdits())
        if (std::string_view(other.Property) != r.Property)
          QCOMPARE(other.Read(email), other.Read(dynamic_cast<mx::TCustomEmailAction&>(*untouched)));
    } else {
      QCOMPARE(Snapshot(*action, EmailEditedProperties()), before);
    }
  }

  void optionPagesValidate_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("authenticate");
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("valid");
    QTest::newRow("e-mail fine") << "TEmailGlobalOptionsFrame"
                                 << "smtp.example.org" << true << "ann" << 25 << true;
    QTest::newRow("e-mail empty") << "TEmailGlobalOptionsFrame"
                                  << "" << false << "" << 25 << true;
    QTest::newRow("e-mail host with blank") << "TEmailGlobalOptionsFrame"
                                            << "smtp example" << false << "" << 25 << false;
    QTest::newRow("e-mail auth without user") << "TEmailGlobalOptionsFrame"
                                              << "h" << true << " " << 25 << false;
    QTest::newRow("ftp fine") << "TFTPGlobalOptionsFrame"
                              << "ftp.example.org" << false << "u" << 21 << true;
    QTest::newRow("ftp port 0") << "TFTPGlobalOptionsFrame"
                                << "ftp.example.org" << false << "u" << 0 << false;
    QTest::newRow("ftp host with line break") << "TFTPGlobalOptionsFrame"
                                              << "ftp\nexample" << false << "u" << 21 << false;
  }

  void optionPagesValidate() {
    QFETCH(QString, page);
    QFETCH(QString, host);
    QFETCH(bool, authenticate);
    QFETCH(QString, user);
    QFETCH(int, port);
    QFETCH(bool, valid);
    auto p = pages::CreateOptionsPage(page.toStdString());
    Get<QLineEdit>(*p, "txtHost")->setText(host);
    Get<QSpinBox>(*p, "spPort")->setValue(port);
    if (auto* auth = p->findChild<QCheckBox*>(QStringLiteral("chkAuthenticate")))
      auth->setChecked(authenticate);
    if (auto* u = p->findChild<QLineEdit*>(QStringLiteral("txtUserID"))) u->setText(user);
    if (auto* u = p->findChild<QLineEdit*>(QStringLiteral("txtUser"))) u->setText(user);
    QCOMPARE(p->Validate().isEmpty(), valid);
  }

  // Option pages write through the setters: values the user did not change leave the object
  // unmodified.
  void optionPagesRoundTrip() {
    mx::TMxFTPOptions ftp;
    ftp.SetFTPServer("ftp.example.org");
    ftp.SetFTPUser("u");
    ftp.SetFTPPass("p&ss");
    ftp.SetFTPPort(2121);
    mx::TMxEmailOptions email;
    email.SetSMTPHost("smtp.example.org");
    email.SetSMTPPort(2525);
    email.SetSMTPUser("ann");
    email.SetSMTPPass("pw");
    email.SetSMTPAuth(true);
    email.SetSMTPEHLO(true);
    email.SetDefaultEncoding("x-custom");
    for (host::TMxOptionsObject* o : std::initializer_list<host::TMxOptionsObject*>{&ftp, &email}) {
      auto page = pages::CreateOptionsPage(o == &ftp ? "TFTPGlobalOptionsFrame" : "TEmailGlobalOptionsFrame");
      page->ReadOptions(*o);
      o->SetModified(false);
      page->WriteOptions(*o);
      QVERIFY2(!o->GetModified(), qPrintable(page->GetPageName()));
      Shot(*page, QString::fromLatin1(o == &ftp ? "TFTPGlobalOptionsFrame" : "TEmailGlobalOptionsFrame"));
    }
    QCOMPARE(email.GetDefaultEncoding(), std::string("x-custom"));
    QCOMPARE(ftp.GetFTPPass(), std::string("p&ss"));
  }
};

QTEST_MAIN(TPagesTest)
#include "MxPagesTest.moc"
