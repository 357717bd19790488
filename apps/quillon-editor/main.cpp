// quillon-editor [PROJECT]: the design environment of the package's actions.
#include <QApplication>

#include "apps/quillon-editor/MxEditorWindow.h"
#include "host/MxHostActions.h"
#include "package/MxInternetActions.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Quillon"));
  QApplication::setApplicationName(QStringLiteral("quillon-editor"));
  host::THost host(true);
  host::RegisterHostActions(host);
  mx::MxRegister(host);
  editor::TEditorWindow window(host);
  window.resize(760, 560);
  window.show();
  if (argc > 1) window.OpenFile(QString::fromLocal8Bit(argv[1]));
  return app.exec();
}
