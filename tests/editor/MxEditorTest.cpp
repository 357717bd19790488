// The editor: projects open and save unchanged; actions are added from the registered list,
// edited through their pages, removed and reordered; the global options reach the runner's
// store; validation shows beside the actions; a run shows its log live and stops on request;
// and a project built in the editor runs unchanged with the command-line runner.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "apps/quillon-editor/MxActionDialog.h"
#include "apps/quillon-editor/MxAddActionDialog.h"
#include "apps/quillon-editor/MxEditorWindow.h"
#include "apps/quillon-editor/MxOptionsDialog.h"
#include "ftp/MxFTPBaseAction.h"
#include "host/MxHostActions.h"
#include "host/MxRunner.h"
#include "mail/MxEmail.h"
#include "options/MxFTPOptions.h"
#include "package/MxInternetActions.h"
#include "tests/support/FtpServers.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/SmtpServer.h"

namespace {
std::string ReadAll(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs `fn` on the next modal dialog of type D once it shows (within 10 s). A dialog `fn` leaves
// open (a failed check returns early) is cancelled, so exec() never hangs the test.
template <class D>
void OnModal(std::function<void(D*)> fn) {
  auto* timer = new QTimer;
  auto deadline = std::make_shared<QDeadlineTimer>(10000);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, deadline, fn] {
    auto* dialog = dynamic_cast<D*>(QApplication::activeModalWidget());
    if (!dialog && !deadline->hasExpired()) return;
    timer->stop();
    timer->deleteLater();
    if (!dialog) return;
    fn(dialog);
    if (dialog->isVisible()) dialog->reject();
  });
  timer->start(10);
}

template <class W>
W* Control(QWidget* parent, const char* name) {
  return parent->findChild<W*>(QString::fromLatin1(name));
}

// The page of a dialog by its frame class name, where two pages carry controls of one name.
QWidget* Page(QWidget* dialog, const char* frameClass) {
  return Control<QWidget>(dialog, frameClass);
}

QStringList Items(const QComboBox* combo) {
  QStringList out;
  for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
  return out;
}

QStringList LogTexts(const QTreeWidget* log) {
  QStringList out;
  for (int i = 0; i < log->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = log->topLevelItem(i);
    out << item->text(1) + QLatin1Char('|') + item->text(2) + QLatin1Char('|') + item->text(3);
  }
  return out;
}

QStringList ListTexts(const QListWidget* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

// The list as the user reads it: one "> " per level of nesting before each display name.
QStringList Outline(const QListWidget* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i)
    out << QStringLiteral("> ").repeated(list->item(i)->data(editor::k_action_depth_role).toInt()) +
               list->item(i)->text();
  return out;
}

// The same of the document's own tree, to show the list and the project agree.
QStringList Outline(const editor::TEditorDocument& document) {
  QStringList out;
  for (const editor::TActionRow& row : document.Rows())
    out << QStringLiteral("> ").repeated(row.Depth) + QString::fromStdString(row.Action->GetActionName());
  return out;
}

// A flow-control action holding two child actions, the second of which does not validate.
const char* const k_tree_project = R"(<?xml version="1.0" encoding="UTF-8"?>
<project name="tree">
  <actions>
    <action class="TFTPConnectionAction">
      <property name="FTPConnectionName">Site</property>
    </action>
    <action class="TFTPCheckIfConnectedAction">
      <property name="ConnectionName">Site</property>
      <actions>
        <action class="TLogMessageAction">
          <property name="Message">connected</property>
        </action>
        <action class="TMxInetHTTPGetAction"/>
      </actions>
    </action>
    <action class="TDelayAction">
      <property name="Milliseconds">10</property>
    </action>
  </actions>
</project>
)";

const QStringList k_tree_outline{"FTP Connect", "FTP Check If Connected", "> Log Message", "> HTTP Get File",
                                 "Delay"};

// Adds an action after the current row, as the add command does, with these properties set.
bool AddWith(editor::TEditorWindow& window, const char* actionClass,
             std::initializer_list<std::pair<const char*, const char*>> properties = {}) {
  if (!window.AddAction(actionClass)) return false;
  host::TMxAction& action =
      *window.Document().Project()->Actions[std::size_t(window.ActionList()->currentRow())];
  for (const auto& [name, value] : properties) action.SetPropertyText(name, value);
  return true;
}

void Shot(QWidget* widget, const char* name) {
  QVERIFY(QDir().mkpath(QStringLiteral(QUILLON_SHOT_DIR)));
  QVERIFY(widget->grab().save(QStringLiteral(QUILLON_SHOT_DIR "/") + QLatin1String(name)));
}
}  // namespace

class TEditorTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<host::THost> host_;
  QTemporaryDir scratch_;

  static QString Example(const char* name) {
    return QStringLiteral(QUILLON_SOURCE_DIR "/examples/") + QString::fromLatin1(name);
  }

 private slots:
  QString Scratch(const char* name) const { return scratch_.filePath(QLatin1String(name)); }

  void initTestCase() {
    if (qEnvironmentVariableIsEmpty("QUILLON_KEY_FILE"))
      qputenv("QUILLON_KEY_FILE", scratch_.filePath(QStringLiteral("key")).toLocal8Bit());
    // Recent files, the option store and the run state stay in this test's scratch folder; the
    // runner started as a program below inherits the same.
    qputenv("XDG_CONFIG_HOME", Scratch("config").toLocal8Bit());
    qputenv("XDG_STATE_HOME", Scratch("state").toLocal8Bit());
    QCoreApplication::setOrganizationName(QStringLiteral("Quillon"));
    QCoreApplication::setApplicationName(QStringLiteral("quillon-editor-test"));
    host_ = std::make_unique<host::THost>(true);
    host::RegisterHostActions(*host_);
    mx::MxRegister(*host_);
  }

  void savedUnchanged_data() {
    QTest::addColumn<QString>("example");
    for (const char* name : {"send-mail.xml", "ftp-transfer.xml", "ftp-script.xml", "demo.xml"})
      QTest::newRow(name) << Example(name);
  }

  // A project opened and saved without edits is the same file, byte for byte.
  void savedUnchanged() {
    QFETCH(QString, example);
    editor::TEditorWindow window(*host_);
    QVERIFY(window.OpenFile(example));
    QVERIFY(window.ActionList()->count() > 0);
    const QString copy = scratch_.filePath(QStringLiteral("copy.xml"));
    QVERIFY(window.SaveFile(copy));
    QCOMPARE(ReadAll(copy), ReadAll(example));
  }

  // The list shows every action in order by its display name and enabled state.
  void listShowsActions() {
    editor::TEditorWindow window(*host_);
    QVERIFY(window.OpenFile(Example("send-mail.xml")));
    const auto& actions = window.Document().Project()->Actions;
    QCOMPARE(window.ActionList()->count(), static_cast<int>(actions.size()));
    for (int i = 0; i < window.ActionList()->count(); ++i) {
      QCOMPARE(window.ActionList()->item(i)->text(),
               QString::fromStdString(actions[std::size_t(i)]->GetActionName()));
      QCOMPARE(window.ActionList()->item(i)->checkState() == Qt::Checked,
               actions[std::size_t(i)]->GetEnabled());
    }
  }

  // The dialog holds the action's pages in registered order; Cancel leaves the action as it
  // was, OK writes through the setters and the saved project carries the change.
  void editThroughPages() {
    editor::TEditorWindow window(*host_);
    QVERIFY(window.OpenFile(Example("send-mail.xml")));
    auto& actions = window.Document().Project()->Actions;
    int row = -1;
    for (std::size_t i = 0; i < actions.size(); ++i)
      if (actions[i]->ClassName() == "TEmailAction") row = static_cast<int>(i);
    QVERIFY(row >= 0);
    auto& email = dynamic_cast<mx::TCustomEmailAction&>(*actions[std::size_t(row)]);
    const std::string subject = email.GetSubject();

    for (bool ok : {false, true}) {
      editor::TActionDialog dialog(email, host_->Actions());
      QCOMPARE(dialog.Tabs()->count(), 8);
      QCOMPARE(dialog.Tabs()->tabText(0), QStringLiteral("SMTP"));
      QCOMPARE(dialog.Tabs()->tabText(3), QStringLiteral("Message"));
      dialog.Tabs()->setCurrentIndex(3);
      dialog.findChild<QLineEdit*>(QStringLiteral("txtSubject"))->setText(QStringLiteral("Edited"));
      auto* buttons = dialog.findChild<QDialogButtonBox*>();
      buttons->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
      QCOMPARE(dialog.result(), ok ? int(QDialog::Accepted) : int(QDialog::Rejected));
      QCOMPARE(email.GetSubject(), ok ? std::string("Edited") : subject);
      if (ok) {
        QVERIFY(QDir().mkpath(QStringLiteral(QUILLON_SHOT_DIR)));
        QVERIFY(dialog.grab().save(QStringLiteral(QUILLON_SHOT_DIR "/editor-email-dialog.png")));
      }
    }
    window.Document().SetModified();
    const QString saved = scratch_.filePath(QStringLiteral("edited.xml"));
    QVERIFY(window.SaveFile(saved));
    editor::TEditorWindow reopened(*host_);
    QVERIFY(reopened.OpenFile(saved));
    QCOMPARE(dynamic_cast<mx::TCustomEmailAction&>(*reopened.Document().Project()->Actions[std::size_t(row)])
                 .GetSubject(),
             std::string("Edited"));
  }

  // A project that fails to load says which file and line.
  void loadErrorNamesFileAndLine() {
    const QString bad = scratch_.filePath(QStringLiteral("bad.xml"));
    {
      std::ofstream out(bad.toStdString());
      out << "<project name=\"x\">\n  <actions>\n    <action class=\"TNoSuchAction\"/>\n  "
             "</actions>\n</project>\n";
    }
    editor::TEditorDocument document(*host_);
    try {
      document.Open(bad.toStdString());
      QFAIL("loaded a project with an unknown action class");
    } catch (const std::exception& e) {
      const QString text = QString::fromUtf8(e.what());
      QVERIFY2(text.contains(bad) && text.contains(QStringLiteral("3")) &&
                   text.contains(QStringLiteral("TNoSuchAction")),
               qPrintable(text));
    }
  }
  // A page's connection and variable combos offer the project's names and stay editable: a
  // name typed in (one a script sets at run time) is kept.
  void pagesOfferProjectNames_data() {
    QTest::addColumn<QString>("actionClass");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QStringList>("offered");
    const QStringList variables{"SITE_DIR", "DOWNLOADS", "REPORT", "COUNT"};
    QTest::newRow("connection") << "TFTPDisconnectAction"
                                << "TFTPDisconnectFrame"
                                << "cbConnection" << QStringList{"Site", "Backup"};
    QTest::newRow("FTP variable") << "TFTPGetRemoteDirAction"
                                  << "TFTPGetRemoteDirFrame"
                                  << "cbMxVar" << variables;
    QTest::newRow("HTTP variable") << "TMxInetHTTPGetAction"
                                   << "TInetHTTPGetFrame"
                                   << "cbMxVariables" << variables;
  }

  void pagesOfferProjectNames() {
    QFETCH(QString, actionClass);
    QFETCH(QString, frame);
    QFETCH(QString, combo);
    QFETCH(QStringList, offered);
    editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
    QVERIFY(window.OpenFile(Example("ftp-transfer.xml")));
    // A second connection and a variable the project sets rather than declares; "report" is
    // the declared REPORT again and is offered once.
    window.ActionList()->setCurrentRow(0);
    QVERIFY(AddWith(window, "TFTPConnectionAction", {{"FTPConnectionName", "Backup"}}));
    QVERIFY(AddWith(window, "TSetVariableAction", {{"VariableName", "COUNT"}}));
    QVERIFY(AddWith(window, "TSetVariableAction", {{"VariableName", "report"}}));
    QVERIFY(window.AddAction(actionClass.toStdString()));
    const int row = window.ActionList()->currentRow();

    bool seen = false;
    OnModal<editor::TActionDialog>([&](editor::TActionDialog* dialog) {
      auto* box =
          Control<QComboBox>(Page(dialog, frame.toLatin1().constData()), combo.toLatin1().constData());
      QVERIFY(box);
      QCOMPARE(Items(box), offered);
      QVERIFY(box->isEditable());
      box->setCurrentText(QStringLiteral("TypedAtRunTime"));
      seen = true;
      dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    QVERIFY(window.EditAction(row));
    QVERIFY(seen);
    const auto& action = *window.Document().Project()->Actions[std::size_t(row)];
    const std::string property = combo == QLatin1String("cbConnection")                 ? "ConnectionName"
                                 : actionClass == QLatin1String("TMxInetHTTPGetAction") ? "DownloadToVar"
                                                                                        : "MxVariable";
    QCOMPARE(action.GetPropertyText(property), std::string("TypedAtRunTime"));
  }

  // The add dialog lists the registered actions under their categories by display name, the
  // host's own among them, and narrows the list as the user types.
  void addDialogListsByCategory() {
    editor::TAddActionDialog dialog(host_->Actions());
    QTreeWidget* tree = dialog.Tree();
    QStringList categories;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) categories << tree->topLevelItem(i)->text(0);
    QCOMPARE(categories, (QStringList{"Host", "Internet"}));
    const QTreeWidgetItem* internet = tree->topLevelItem(1);
    QCOMPARE(internet->childCount(), 24);
    QCOMPARE(internet->child(0)->text(0), QStringLiteral("Send Email"));
    QCOMPARE(internet->child(6)->text(0), QStringLiteral("FTP Upload"));
    QVERIFY(dialog.SelectedClass().empty());

    QVERIFY(dialog.Select(QStringLiteral("Host"), QStringLiteral("Delay")));
    QCOMPARE(dialog.SelectedClass(), std::string("TDelayAction"));
    dialog.show();
    Shot(&dialog, "editor-add-action.png");
    // Typing narrows the list and makes the first match current, so Enter takes it.
    QTest::keyClicks(dialog.Filter(), QStringLiteral("upload"));
    int shown = 0;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
      for (int j = 0; j < tree->topLevelItem(i)->childCount(); ++j)
        shown += !tree->topLevelItem(i)->child(j)->isHidden();
    QCOMPARE(shown, 1);
    QVERIFY(tree->topLevelItem(0)->isHidden());
    QCOMPARE(dialog.SelectedClass(), std::string("TFTPUploadFileAction"));
    QTest::keyClick(dialog.Filter(), Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
  }

  // Adding goes after the current row, removing keeps a current row (the next one, or the new
  // last), moving stops at either end; every change marks the project modified. Driven from
  // the keyboard as a user would, with the list focused from the start.
  void addRemoveAndMoveFromTheKeyboard() {
    editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(QApplication::focusWidget(), window.ActionList());
    QListWidget* list = window.ActionList();

    OnModal<editor::TAddActionDialog>([](editor::TAddActionDialog* dialog) {
      QVERIFY(dialog->Select(QStringLiteral("Internet"), QStringLiteral("FTP Connect")));
      dialog->accept();
    });
    QTest::keyClick(list, Qt::Key_Insert);
    QVERIFY(window.Document().Modified());
    QVERIFY(window.AddAction("TLogMessageAction"));
    QVERIFY(window.AddAction("TDelayAction"));
    list->setCurrentRow(0);
    QVERIFY(window.AddAction("TFTPUploadFileAction"));  // after the current row, not at the end
    QCOMPARE(ListTexts(list), (QStringList{"FTP Connect", "FTP Upload", "Log Message", "Delay"}));
    QCOMPARE(list->currentRow(), 1);

    const struct {
      Qt::Key key;
      Qt::KeyboardModifiers modifiers;
      QStringList order;
      int current;
    } steps[] = {
        {Qt::Key_Down, Qt::ControlModifier, {"FTP Connect", "Log Message", "FTP Upload", "Delay"}, 2},
        {Qt::Key_Down, Qt::ControlModifier, {"FTP Connect", "Log Message", "Delay", "FTP Upload"}, 3},
        {Qt::Key_Down, Qt::ControlModifier, {"FTP Connect", "Log Message", "Delay", "FTP Upload"}, 3},
        {Qt::Key_Up, Qt::ControlModifier, {"FTP Connect", "Log Message", "FTP Upload", "Delay"}, 2},
        {Qt::Key_Delete, Qt::NoModifier, {"FTP Connect", "Log Message", "Delay"}, 2},
        {Qt::Key_Delete, Qt::NoModifier, {"FTP Connect", "Log Message"}, 1},
        {Qt::Key_Home, Qt::NoModifier, {"FTP Connect", "Log Message"}, 0},
        {Qt::Key_Up, Qt::ControlModifier, {"FTP Connect", "Log Message"}, 0},
        {Qt::Key_Delete, Qt::NoModifier, {"Log Message"}, 0},
    };
    for (const auto& step : steps) {
      QTest::keyClick(list, step.key, step.modifiers);
      QCOMPARE(ListTexts(list), step.order);
      QCOMPARE(list->currentRow(), step.current);
      std::vector<std::string> names;
      for (const auto& a : window.Document().Project()->Actions) names.push_back(a->GetActionName());
      QCOMPARE(names.size(), std::size_t(step.order.size()));
      for (std::size_t i = 0; i < names.size(); ++i)
        QCOMPARE(QString::fromStdString(names[i]), step.order[int(i)]);
    }

    // F2 and Enter open the current action. The host's own actions have no pages: their
    // published properties are edited in one form, written only on OK.
    host::TMxAction& log = *window.Document().Project()->Actions[0];
    log.SetPropertyText("Message", "as it was");
    const struct {
      Qt::Key key;
      QDialogButtonBox::StandardButton button;
      const char* message;
    } opens[] = {{Qt::Key_F2, QDialogButtonBox::Cancel, "as it was"},
                 {Qt::Key_Return, QDialogButtonBox::Ok, "typed"}};
    for (const auto& open : opens) {
      bool opened = false;
      OnModal<QDialog>([&](QDialog* dialog) {
        auto* message = dialog->findChild<QLineEdit*>(QStringLiteral("edMessage"));
        QVERIFY(message);
        QCOMPARE(message->text(), QStringLiteral("as it was"));
        message->setText(QStringLiteral("typed"));
        opened = true;
        dialog->findChild<QDialogButtonBox*>()->button(open.button)->click();
      });
      QTest::keyClick(list, open.key);
      QTRY_VERIFY2_WITH_TIMEOUT(opened, qPrintable(QKeySequence(open.key).toString()), 5000);
      QCOMPARE(log.GetPropertyText("Message"), std::string(open.message));
    }
  }

  // A new connection is named at once, uniquely, so the project validates; an action on a
  // connection starts on the nearest one above it, and keeps a name already set.
  void newActionsGetConnectionNames() {
    editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
    auto& actions = window.Document().Project()->Actions;
    auto name = [&](int row) {
      return actions[std::size_t(row)]->GetPropertyText(row == 0 || row == 2 ? "FTPConnectionName"
                                                                             : "ConnectionName");
    };
    QVERIFY(window.AddAction("TFTPUploadFileAction"));  // nothing above: left empty
    QCOMPARE(actions[0]->GetPropertyText("ConnectionName"), std::string());
    window.RemoveCurrent();
    QVERIFY(window.AddAction("TFTPConnectionAction"));
    QVERIFY(window.AddAction("TFTPUploadFileAction"));
    QVERIFY(window.AddAction("TFTPConnectionAction"));
    QVERIFY(window.AddAction("TFTPMirrorAction"));
    QCOMPARE(name(0), std::string("FTP"));
    QCOMPARE(name(1), std::string("FTP"));
    QCOMPARE(name(2), std::string("Copy of FTP"));
    QCOMPARE(name(3), std::string("Copy of FTP"));
    for (const auto& f : host::TProjectRunner(*window.Document().Project()).Validate())
      QVERIFY2(f.Message.find("Duplicate") == std::string::npos, f.Message.c_str());
  }

  // The options dialog edits the live options objects; a page's complaint keeps it open and
  // writes nothing; OK saves the runner's store, with the password only in its stored form;
  // an editor started later loads the store.
  void optionsReachTheStore() {
    const QString store = Scratch("options-dialog.xml");
    auto* ftp = dynamic_cast<mx::TMxFTPOptions*>(host_->Options().GetOptions("FTP Options", "Internet"));
    QVERIFY(ftp);
    {
      editor::TEditorWindow window(*host_, store.toStdString());
      OnModal<editor::TOptionsDialog>([&](editor::TOptionsDialog* dialog) {
        QCOMPARE(dialog->Tabs()->count(), 2);
        QCOMPARE(dialog->Tabs()->tabText(0), QStringLiteral("Email Options"));
        QCOMPARE(dialog->Tabs()->tabText(1), QStringLiteral("FTP Options"));
        QWidget* page = Page(dialog, "TFTPGlobalOptionsFrame");
        Control<QLineEdit>(page, "txtHost")->setText(QStringLiteral("ftp example.org"));
        Control<QLineEdit>(page, "txtPassword")->setText(QStringLiteral("s3cret-option"));
        Control<QSpinBox>(page, "spPort")->setValue(2121);
        auto* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        ok->click();
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->Problem().isEmpty());
        QCOMPARE(dialog->Tabs()->currentWidget(), page);
        QVERIFY(ftp->GetFTPServer() != "ftp example.org");
        QVERIFY(!QFile::exists(store));
        Shot(dialog, "editor-options.png");
        Control<QLineEdit>(page, "txtHost")->setText(QStringLiteral("ftp.example.org"));
        ok->click();
        QVERIFY(!dialog->isVisible());
      });
      QVERIFY(window.EditOptions());
    }
    QCOMPARE(ftp->GetFTPServer(), std::string("ftp.example.org"));
    const std::string saved = ReadAll(store);
    QVERIFY2(saved.find("ftp.example.org") != std::string::npos, saved.c_str());
    QVERIFY(saved.find("2121") != std::string::npos);
    QVERIFY(saved.find("s3cret-option") == std::string::npos);

    // What another program left in the store is what the next editor starts with.
    host::TMxOptionStore other;
    other.Load(store.toStdString());
    other.SetValue("Internet", "FTPServer", "changed.example.org");
    other.Save(store.toStdString());
    editor::TEditorWindow next(*host_, store.toStdString());
    QCOMPARE(ftp->GetFTPServer(), std::string("changed.example.org"));
    QCOMPARE(ftp->GetFTPPass(), std::string("s3cret-option"));
  }

  // A store that cannot be written keeps the dialog open and the live options as they were.
  void optionsUnsavedLeaveTheLiveObjects() {
    const QString blocker = Scratch("not-a-folder");
    testsupport::WriteText(blocker.toStdString(), "a file where the store's folder would be\n");
    auto* ftp = dynamic_cast<mx::TMxFTPOptions*>(host_->Options().GetOptions("FTP Options", "Internet"));
    editor::TEditorWindow window(*host_, (blocker + QStringLiteral("/options.xml")).toStdString());
    const std::string server = ftp->GetFTPServer();
    OnModal<editor::TOptionsDialog>([&](editor::TOptionsDialog* dialog) {
      Control<QLineEdit>(Page(dialog, "TFTPGlobalOptionsFrame"), "txtHost")
          ->setText(QStringLiteral("unsaved.example.org"));
      dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
      QVERIFY(dialog->isVisible());
      QVERIFY2(dialog->Problem().contains(QStringLiteral("Cannot save")), qPrintable(dialog->Problem()));
      QCOMPARE(ftp->GetFTPServer(), server);
      dialog->reject();
    });
    QVERIFY(!window.EditOptions());
    QCOMPARE(ftp->GetFTPServer(), server);
  }

  // Validation marks each failing action in the list (icon and tooltip) and lists the messages;
  // choosing a message selects its action. A run does not start while anything is invalid.
  void validationShownBesideActions() {
    editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
    window.resize(760, 560);
    QVERIFY(window.AddAction("TLogMessageAction"));
    QVERIFY(window.AddAction("TFTPConnectionAction"));
    QVERIFY(window.AddAction("TMxInetHTTPGetAction"));  // no URL
    QVERIFY(window.AddAction("TLogMessageAction"));
    QVERIFY(window.AddAction("TEmailAction"));
    window.show();
    QVERIFY(!window.ValidateProject());
    QListWidget* problems = window.ProblemList();
    QVERIFY(problems->count() > 0);
    std::set<int> failing;
    for (int i = 0; i < problems->count(); ++i) failing.insert(problems->item(i)->data(Qt::UserRole).toInt());
    QVERIFY(!failing.count(0) && !failing.count(3));
    for (int row = 0; row < window.ActionList()->count(); ++row) {
      QListWidgetItem* item = window.ActionList()->item(row);
      QCOMPARE(!item->icon().isNull(), failing.count(row) == 1);
    }
    QCOMPARE(failing, (std::set<int>{2, 4}));
    QVERIFY(window.ActionList()->item(2)->toolTip().contains(QStringLiteral("URL to retrieve")));
    // Every message of an action in its tooltip.
    const QString email = window.ActionList()->item(4)->toolTip();
    QVERIFY2(email.contains(QStringLiteral("Host")) && email.contains(QStringLiteral("Recipients")),
             qPrintable(email));
    window.ActionList()->setCurrentRow(0);
    for (int i = 0; i < problems->count(); ++i) {
      if (problems->item(i)->data(Qt::UserRole).toInt() != 2) continue;
      QTest::mouseClick(problems->viewport(), Qt::LeftButton, {},
                        problems->visualItemRect(problems->item(i)).center());
      break;
    }
    QCOMPARE(window.ActionList()->currentRow(), 2);
    Shot(&window, "editor-validation.png");

    QVERIFY(!window.StartRun());
    QVERIFY(!window.Running());
    // Fixed, the marks go.
    window.Document().Project()->Actions[2]->SetPropertyText("URL", "http://127.0.0.1/");
    window.ActionList()->setCurrentRow(4);
    window.RemoveCurrent();
    QVERIFY(window.ValidateProject());
    QCOMPARE(problems->count(), 0);
    for (int i = 0; i < window.ActionList()->count(); ++i)
      QVERIFY(window.ActionList()->item(i)->icon().isNull());
  }

  QString TreeProject() {
    const QString path = Scratch("tree.xml");
    testsupport::WriteText(path.toStdString(), k_tree_project);
    return path;
  }

  // Child actions show indented after their parent, each row bound to its own action; a
  // project with children saved unedited is the same file; Add Child is offered only on a
  // flow-control action.
  void childActionsListedUnderTheirParent() {
    editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
    const QString path = TreeProject();
    QVERIFY(window.OpenFile(path));
    QListWidget* list = window.ActionList();
    QCOMPARE(Outline(list), k_tree_outline);
    QCOMPARE(Outline(window.Document()), k_tree_outline);
    auto& top = window.Document().Project()->Actions;
    QCOMPARE(window.ActionAt(2), top[1]->ChildActions()[0].get());
    QCOMPARE(window.ActionAt(3), top[1]->ChildActions()[1].get());
    QCOMPARE(window.ActionAt(4), top[2].get());
    for (int row = 0; row < list->count(); ++row) {
      list->setCurrentRow(row);
      QCOMPARE(window.AddChildCommand()->isEnabled(), row == 1);
    }
    list->setCurrentRow(4);
    QVERIFY(!window.AddChildAction("TLogMessageAction"));
    QCOMPARE(Outline(list), k_tree_outline);

    // A click on the check box of a child, where it shows indented, switches that child alone.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QStyleOptionViewItem option;
    option.initFrom(list->viewport());
    option.rect = list->visualItemRect(list->item(3));
    option.rect.setLeft(option.rect.left() + option.fontMetrics.averageCharWidth() * 4);
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.text = list->item(3)->text();
    const QRect box = list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box.center());
    QCOMPARE(list->item(3)->checkState(), Qt::Unchecked);
    QVERIFY(!top[1]->ChildActions()[1]->GetEnabled());
    QVERIFY(top[1]->GetEnabled());
    QVERIFY(window.Document().Modified());
    Shot(&window, "editor-child-actions.png");

    editor::TEditorWindow unedited(*host_, Scratch("options.xml").toStdString());
    QVERIFY(unedited.OpenFile(path));
    QVERIFY(unedited.SaveFile(Scratch("tree-copy.xml")));
    QCOMPARE(ReadAll(Scratch("tree-copy.xml")), std::string(k_tree_project));
  }

  // Moves stay among the siblings (a child never leaves its parent) and a parent moves with its
  // children; removing a parent removes its children; Insert adds after the current row among
  // its siblings, Ctrl+Insert as the last child of a flow-control action.
  void childActionsChangedFromTheKeyboard_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("pick");  // the action the add dialog takes
    QTest::addColumn<QStringList>("outline");
    QTest::addColumn<int>("current");
    const int ctrl = Qt::ControlModifier;
    const int none = Qt::NoModifier;
    QTest::newRow("child down") << 2 << int(Qt::Key_Down) << ctrl << QString()
                                << QStringList{"FTP Connect", "FTP Check If Connected", "> HTTP Get File",
                                               "> Log Message", "Delay"}
                                << 3;
    QTest::newRow("first child up") << 2 << int(Qt::Key_Up) << ctrl << QString() << k_tree_outline << 2;
    QTest::newRow("last child down") << 3 << int(Qt::Key_Down) << ctrl << QString() << k_tree_outline << 3;
    QTest::newRow("parent up") << 1 << int(Qt::Key_Up) << ctrl << QString()
                               << QStringList{"FTP Check If Connected", "> Log Message", "> HTTP Get File",
                                              "FTP Connect", "Delay"}
                               << 0;
    QTest::newRow("parent down") << 1 << int(Qt::Key_Down) << ctrl << QString()
                                 << QStringList{"FTP Connect", "Delay", "FTP Check If Connected",
                                                "> Log Message", "> HTTP Get File"}
                                 << 2;
    QTest::newRow("remove child") << 2 << int(Qt::Key_Delete) << none << QString()
                                  << QStringList{"FTP Connect", "FTP Check If Connected", "> HTTP Get File",
                                                 "Delay"}
                                  << 2;
    QTest::newRow("remove parent") << 1 << int(Qt::Key_Delete) << none << QString()
                                   << QStringList{"FTP Connect", "Delay"} << 1;
    QTest::newRow("add after child") << 2 << int(Qt::Key_Insert) << none << "FTP Upload"
                                     << QStringList{"FTP Connect",  "FTP Check If Connected", "> Log Message",
                                                    "> FTP Upload", "> HTTP Get File",        "Delay"}
                                     << 3;
    QTest::newRow("add child") << 1 << int(Qt::Key_Insert) << ctrl << "FTP Upload"
                               << QStringList{"FTP Connect",     "FTP Check If Connected", "> Log Message",
                                              "> HTTP Get File", "> FTP Upload",           "Delay"}
                               << 4;
  }

  void childActionsChangedFromTheKeyboard() {
    QFETCH(int, row);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, pick);
    QFETCH(QStringList, outline);
    QFETCH(int, current);
    editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
    QVERIFY(window.OpenFile(TreeProject()));
    // Insert is the window's shortcut: it reaches the command only in an active window.
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QListWidget* list = window.ActionList();
    list->setCurrentRow(row);
    bool picked = false;
    if (!pick.isEmpty())
      OnModal<editor::TAddActionDialog>([&](editor::TAddActionDialog* dialog) {
        QVERIFY(dialog->Select(QStringLiteral("Internet"), pick));
        picked = true;
        dialog->accept();
      });
    QTest::keyClick(list, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    if (!pick.isEmpty()) QTRY_VERIFY_WITH_TIMEOUT(picked, 5000);
    QCOMPARE(Outline(list), outline);
    QCOMPARE(Outline(window.Document()), outline);
    QCOMPARE(list->currentRow(), current);
    QCOMPARE(window.Document().Modified(), outline != k_tree_outline);
    if (!pick.isEmpty()) {
      // Bound to the project and started on the connection run before it, as a top-level one.
      host::TMxAction& added = *window.ActionAt(current);
      QCOMPARE(&added.Context(), &window.Document().Project()->Context());
      QCOMPARE(added.GetPropertyText("ConnectionName"), std::string("Site"));
    }
  }

  // A child edited through the list is written on OK, saved inside its parent and read back.
  void childEditSavedAndReopened() {
    editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
    QVERIFY(window.OpenFile(TreeProject()));
    window.ActionList()->setCurrentRow(2);
    bool opened = false;
    OnModal<QDialog>([&](QDialog* dialog) {
      auto* message = dialog->findChild<QLineEdit*>(QStringLiteral("edMessage"));
      QVERIFY(message);
      QCOMPARE(message->text(), QStringLiteral("connected"));
      message->setText(QStringLiteral("still connected"));
      opened = true;
      dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    QTest::keyClick(window.ActionList(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(opened, 5000);
    QCOMPARE(window.ActionAt(2)->GetPropertyText("Message"), std::string("still connected"));
    QCOMPARE(window.ActionList()->currentRow(), 2);
    QVERIFY(window.Document().Modified());

    const QString saved = Scratch("tree-edited.xml");
    QVERIFY(window.SaveFile(saved));
    editor::TEditorWindow reopened(*host_, Scratch("options.xml").toStdString());
    QVERIFY(reopened.OpenFile(saved));
    QCOMPARE(Outline(reopened.ActionList()), k_tree_outline);
    const auto& parent = *reopened.Document().Project()->Actions[1];
    QCOMPARE(parent.ChildActions()[0]->GetPropertyText("Message"), std::string("still connected"));
    QCOMPARE(reopened.Document().Project()->SaveToString(), ReadAll(saved));
  }

  // A child's failure marks the child's own row, not its parent's, also when a sibling before
  // it is disabled (positions count every action); choosing the message selects that row.
  void childFailureMarksItsRow() {
    for (bool disableSibling : {false, true}) {
      editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
      QVERIFY(window.OpenFile(TreeProject()));
      if (disableSibling) window.ActionList()->item(2)->setCheckState(Qt::Unchecked);
      window.show();
      QVERIFY(!window.ValidateProject());
      QListWidget* problems = window.ProblemList();
      QVERIFY(problems->count() > 0);
      for (int i = 0; i < problems->count(); ++i) {
        QVERIFY2(problems->item(i)->text().startsWith(QStringLiteral("2.2: ")),
                 qPrintable(problems->item(i)->text()));
        QCOMPARE(problems->item(i)->data(Qt::UserRole).toInt(), 3);
      }
      for (int row = 0; row < window.ActionList()->count(); ++row)
        QCOMPARE(!window.ActionList()->item(row)->icon().isNull(), row == 3);
      window.ActionList()->setCurrentRow(0);
      QTest::mouseClick(problems->viewport(), Qt::LeftButton, {},
                        problems->visualItemRect(problems->item(0)).center());
      QCOMPARE(window.ActionList()->currentRow(), 3);
    }
  }

  // A run shows the log live; the project cannot be edited while it runs; Esc stops a long
  // action and the run ends as Stopped, long before the action would have.
  void runShowsLogAndStops() {
    editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
    window.resize(760, 560);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(AddWith(window, "TLogMessageAction", {{"Message", "before the wait"}}));
    QVERIFY(AddWith(window, "TDelayAction", {{"Milliseconds", "600000"}}));
    QVERIFY(AddWith(window, "TLogMessageAction", {{"Message", "after the wait"}}));

    const auto started = std::chrono::steady_clock::now();
    QTest::keyClick(window.ActionList(), Qt::Key_F5);
    QVERIFY(window.Running());
    QTRY_VERIFY_WITH_TIMEOUT(
        LogTexts(window.LogView()).join('\n').contains(QStringLiteral("Delay [ 600000 ms ]|started")), 10000);
    QVERIFY(LogTexts(window.LogView()).contains(QStringLiteral("info|Log Message|before the wait")));
    // Nothing changes the project meanwhile.
    QVERIFY(!window.AddAction("TLogMessageAction"));
    QTest::keyClick(window.ActionList(), Qt::Key_Delete);
    QCOMPARE(window.Document().Project()->Actions.size(), std::size_t(3));
    QVERIFY(!(window.ActionList()->item(0)->flags() & Qt::ItemIsUserCheckable));
    Shot(&window, "editor-running.png");

    QTest::keyClick(window.ActionList(), Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!window.Running(), 10000);
    QVERIFY(std::chrono::steady_clock::now() - started < std::chrono::seconds(30));
    QCOMPARE(window.LastResult(), std::optional(host::TRunResult::Stopped));
    const QString log = LogTexts(window.LogView()).join('\n');
    QVERIFY2(!log.contains(QStringLiteral("after the wait")), qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("Run stopped.")), qPrintable(log));
    QVERIFY(window.ActionList()->item(0)->flags() & Qt::ItemIsUserCheckable);
    QVERIFY(window.AddAction("TLogMessageAction"));
    Shot(&window, "editor-stopped.png");
  }

  // A run reports how it ended, and an action's failure shows in the log with its error tag.
  void runReportsItsEnd_data() {
    QTest::addColumn<bool>("fail");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("line");
    QTest::newRow("success") << false << int(host::TRunResult::Success) << "ok||Run succeeded.";
    QTest::newRow("failure") << true << int(host::TRunResult::Failed) << "error||Run failed.";
  }

  void runReportsItsEnd() {
    QFETCH(bool, fail);
    QFETCH(int, result);
    QFETCH(QString, line);
    editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
    QVERIFY(AddWith(window, "TLogMessageAction", {{"Message", "first"}}));
    if (fail) {
      // Nothing listens on that port: the connection is refused at once.
      const std::string port = std::to_string(testsupport::FreePort());
      QVERIFY(AddWith(window, "TFTPConnectionAction",
                      {{"FTPConnectionName", "Nowhere"},
                       {"FTPHost", "127.0.0.1"},
                       {"FTPPort", port.c_str()},
                       {"ConnectTimeoutInSec", "5"}}));
    }
    QVERIFY(window.StartRun());
    QTRY_VERIFY_WITH_TIMEOUT(!window.Running(), 30000);
    QCOMPARE(int(*window.LastResult()), result);
    const QStringList log = LogTexts(window.LogView());
    QCOMPARE(log.back(), line);
    QVERIFY(log.contains(QStringLiteral("info|Log Message|first")));
    if (fail) {
      bool error = false;
      for (const QString& l : log) error = error || l.startsWith(QStringLiteral("error|FTP Connect|"));
      QVERIFY2(error, qPrintable(log.join('\n')));
    }
  }

  // Closing during a run asks, stops the run, and closes once the run has ended.
  void closeWhileRunningStopsFirst() {
    editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
    window.show();
    QVERIFY(AddWith(window, "TDelayAction", {{"Milliseconds", "600000"}}));
    window.Document().Save(Scratch("delay.xml").toStdString());
    QVERIFY(window.StartRun());
    OnModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    QVERIFY(!window.close());
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 10000);
    QVERIFY(!window.Running());
    QCOMPARE(window.LastResult(), std::optional(host::TRunResult::Stopped));
  }

  // The last eight projects opened or saved, newest first, kept for the next start; one click
  // opens one again.
  void recentFilesKeepTheLastEight() {
    QStringList paths;
    for (int i = 0; i < 9; ++i) {
      paths << Scratch("recent") + QString::number(i) + QStringLiteral(".xml");
      QFile::remove(paths.back());
      QVERIFY(QFile::copy(Example("send-mail.xml"), paths.back()));
    }
    {
      editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
      for (const QString& p : paths) QVERIFY(window.OpenFile(p));
      QVERIFY(window.OpenFile(paths[3]));  // again: to the front, not twice
    }
    editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
    const QStringList expected{paths[3], paths[8], paths[7], paths[6],
                               paths[5], paths[4], paths[2], paths[1]};
    QCOMPARE(window.RecentFiles(), expected);
    QCOMPARE(window.RecentMenu()->actions().size(), 8);
    window.RecentMenu()->actions().at(1)->trigger();
    QCOMPARE(QString::fromStdString(window.Document().Path()), paths[8]);
  }

  // A project built in the editor from the registered list and filled through its pages runs,
  // as saved, with the command-line runner: the mail arrives and the file is uploaded. The
  // editor's own run does the same, with the log and progress shown, and no password shows.
  void builtInTheEditorRunsWithTheRunner() {
    testsupport::SmtpServer smtp;
    testsupport::FtpServer ftp(testsupport::FtpServerKind::Pyftpdlib);
    const QString site = Scratch("site");
    QVERIFY(QDir().mkpath(site));
    testsupport::WriteText((site + QStringLiteral("/report.txt")).toStdString(), "built in the editor\n");
    const QString password = QString::fromStdString(ftp.Password());

    editor::TEditorWindow window(*host_, Scratch("options.xml").toStdString());
    window.resize(760, 560);
    auto add = [&](const char* displayName) {
      OnModal<editor::TAddActionDialog>([displayName](editor::TAddActionDialog* dialog) {
        QVERIFY(dialog->Select(QStringLiteral("Internet"), QLatin1String(displayName)));
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
      });
      return window.AddActionFromList();
    };
    auto edit = [&](std::function<void(QWidget*)> fill) {
      bool filled = false;
      OnModal<editor::TActionDialog>([&](editor::TActionDialog* dialog) {
        fill(dialog);
        filled = true;
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
      });
      return window.EditAction(window.ActionList()->currentRow()) && filled;
    };

    QVERIFY(add("Send Email"));
    QVERIFY(edit([&](QWidget* d) {
      QWidget* smtpPage = Page(d, "TEmailOptionsFrame");
      Control<QLineEdit>(smtpPage, "txtHost")->setText(QStringLiteral("127.0.0.1"));
      Control<QSpinBox>(smtpPage, "spPort")->setValue(smtp.Port());
      QWidget* who = Page(d, "TEmailWhoFrame");
      Control<QLineEdit>(who, "txtFromName")->setText(QStringLiteral("Editor"));
      Control<QLineEdit>(who, "txtFromAddress")->setText(QStringLiteral("editor@example.org"));
      QWidget* to = Page(d, "TRecipientsFrame");
      Control<QPushButton>(to, "btnAdd")->click();
      auto* grid = Control<QTableWidget>(to, "grdAddresses");
      grid->item(grid->rowCount() - 1, 1)->setText(QStringLiteral("Ann"));
      grid->item(grid->rowCount() - 1, 2)->setText(QStringLiteral("ann@example.org"));
      QWidget* body = Page(d, "TBodyFrame");
      Control<QLineEdit>(body, "txtSubject")->setText(QStringLiteral("Built in the editor"));
      Control<QPlainTextEdit>(body, "txtBody")->setPlainText(QStringLiteral("Hello from the editor."));
    }));
    QVERIFY(add("FTP Connect"));
    QVERIFY(edit([&](QWidget* d) {
      Control<QLineEdit>(Page(d, "TFTPConnectFrame"), "edtConnection")->setText(QStringLiteral("Site"));
      QWidget* server = Page(d, "TFTPServerFrame");
      Control<QCheckBox>(server, "chkGlobalOpt")->setChecked(false);
      Control<QLineEdit>(server, "txtHost")->setText(QStringLiteral("127.0.0.1"));
      Control<QSpinBox>(server, "spPort")->setValue(ftp.Port());
      Control<QLineEdit>(server, "txtUser")->setText(QString::fromStdString(ftp.User()));
      auto* secret = Control<QLineEdit>(server, "txtPassword");
      QCOMPARE(secret->echoMode(), QLineEdit::Password);
      secret->setText(password);
    }));
    QVERIFY(add("FTP Upload"));
    QVERIFY(edit([&](QWidget* d) {
      QWidget* page = Page(d, "TFTPUploadFileFrame");
      auto* connection = Control<QComboBox>(page, "cbConnection");
      QCOMPARE(Items(connection), QStringList{"Site"});
      connection->setCurrentText(QStringLiteral("Site"));
      Control<QLineEdit>(page, "edtDir")->setText(site);
      Control<QLineEdit>(page, "edtFile")->setText(QStringLiteral("report.txt"));
    }));
    QCOMPARE(ListTexts(window.ActionList()), (QStringList{"Send Email", "FTP Connect", "FTP Upload"}));

    const QString project = Scratch("built.xml");
    QVERIFY(window.SaveFile(project));
    QVERIFY(ReadAll(project).find(password.toStdString()) == std::string::npos);

    std::string output;
    const int status = testsupport::RunProgram(
        {QUILLON_BINARY_DIR "/apps/quillon/quillon", "run", project.toStdString()}, &output);
    QVERIFY2(status == 0, output.c_str());
    auto spool = smtp.Spool();
    QCOMPARE(spool.size(), std::size_t(1));
    const std::string mail = spool[0].Content();
    QVERIFY2(mail.find("Subject: Built in the editor") != std::string::npos, mail.c_str());
    QVERIFY(mail.find("Hello from the editor.") != std::string::npos);
    QVERIFY(std::find(spool[0].envelope.begin(), spool[0].envelope.end(), "rcpt ann@example.org") !=
            spool[0].envelope.end());
    QCOMPARE(testsupport::ReadText(ftp.Root() / "report.txt"), std::string("built in the editor\n"));

    // The same project from the editor's Run command.
    std::filesystem::remove(ftp.Root() / "report.txt");
    window.show();
    QVERIFY(window.StartRun());
    QTRY_VERIFY_WITH_TIMEOUT(!window.Running(), 60000);
    const QString log = LogTexts(window.LogView()).join('\n');
    QCOMPARE(window.LastResult(), std::optional(host::TRunResult::Success));
    QVERIFY2(log.contains(QStringLiteral("ok|Send Email|Message Sent")), qPrintable(log));
    QVERIFY(!log.contains(password));
    for (int i = 0; i < window.ActionList()->count(); ++i)
      QVERIFY(!window.ActionList()->item(i)->toolTip().contains(password));
    QCOMPARE(window.Progress()->value(), 100);
    QCOMPARE(smtp.Spool().size(), std::size_t(2));
    QCOMPARE(testsupport::ReadText(ftp.Root() / "report.txt"), std::string("built in the editor\n"));
    Shot(&window, "editor-after-run.png");
  }
};

QTEST_MAIN(TEditorTest)
#include "MxEditorTest.moc"
