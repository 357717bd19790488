// quillon-editor [--options FILE] [PROJECT]: the design environment of the package's actions.
#include <QApplication>
#include <QCommandLineParser>

#include "apps/quillon-editor/MxEditorWindow.h"
#include "host/MxHostActions.h"
#include "package/MxInternetActions.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Quillon"));
  QApplication::setApplicationName(QStringLiteral("quillon-editor"));
  QCommandLineParser args;
  args.setApplicationDescription(QStringLiteral("Edits and runs Quillon projects."));
  args.addHelpOption();
  // The same store `quillon run --options FILE` would read.
  const QCommandLineOption options(
      QStringLiteral("options"), QStringLiteral("The option store (default ~/.config/quillon/options.xml)."),
      QStringLiteral("FILE"));
  args.addOption(options);
  args.addPositionalArgument(QStringLiteral("project"), QStringLiteral("The project file to open."));
  args.process(app);

  host::THost host(true);
  host::RegisterHostActions(host);
  mx::MxRegister(host);
  editor::TEditorWindow window(host, args.value(options).toStdString());
  window.resize(760, 560);
  window.show();
  if (!args.positionalArguments().isEmpty()) window.OpenFile(args.positionalArguments().first());
  return app.exec();
}
