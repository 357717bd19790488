// quillon-editor [PROJECT]: the design environment of the package's actions.
#include <QApplication>

#include "apps/quillon-editor/MxEditorWindow.h"
#include "host/MxHostActions.h"
#include "package/MxInternetActions.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  host::THost host(true);
  host::RegisterHostActions(host);
  mx::MxRegister(host);
  editor::TEditorWindow window(host);
  window.resize(640, 480);
  window.show();
  if (argc > 1) window.OpenFile(QString::fromLocal8Bit(argv[1]));
  return app.exec();
}
