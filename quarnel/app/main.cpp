#include <QApplication>
#include <QIcon>

#include "app/QuarnelApp.h"
#include "ui/AboutDlg.h"
#include "ui/Prompter.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/quarnel/quarnel.png")));
  quarnel::QtPrompter prompter;
  quarnel::CQuarnelApp quarnel(prompter,
                               quarnel::ProductVersionText(QUARNEL_VERSION_MAJOR, QUARNEL_VERSION_MINOR));
  return quarnel.Run();
}
