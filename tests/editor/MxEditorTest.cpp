// The editor shell: projects open and save unchanged, and an action is edited through its
// registered pages (OK writes, Cancel does not).
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "apps/quillon-editor/MxActionDialog.h"
#include "apps/quillon-editor/MxEditorWindow.h"
#include "host/MxHostActions.h"
#include "mail/MxEmail.h"
#include "package/MxInternetActions.h"

namespace {
std::string ReadAll(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
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
  void initTestCase() {
    if (qEnvironmentVariableIsEmpty("QUILLON_KEY_FILE"))
      qputenv("QUILLON_KEY_FILE", scratch_.filePath(QStringLiteral("key")).toLocal8Bit());
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
};

QTEST_MAIN(TEditorTest)
#include "MxEditorTest.moc"
