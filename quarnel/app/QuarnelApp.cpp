#include "app/QuarnelApp.h"

#include <unistd.h>

#include <QApplication>
#include <QLocalSocket>

#include "app/QtSettingsStore.h"
#include "base/StringTable.h"
#include "base/TextIds.h"
#include "ui/Prompter.h"
#include "ui/QuarnelDlg.h"
#include "ui/MainWindowControls.h"

namespace quarnel {
namespace {

constexpr char kRaiseRequest[] = "raise\n";
constexpr char kRaised[] = "raised\n";


}  // namespace

// ------------------------------------------------------------ single copy

SingleInstance::SingleInstance() : lock_(TableText(text::kProgramName).toStdString(), LockScope::User) {
  QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] { AnswerRequest(); });
}

QString SingleInstance::ServerPath() const {
  QString path = QString::fromStdString(lock_.Path());
  path.replace(path.size() - 4, 4, QStringLiteral("raise"));  // NAME.lock -> NAME.raise
  return path;
}

bool SingleInstance::Claim() {
  if (!lock_.Acquire(std::chrono::milliseconds(0))) return false;
  // Holding the lock, any socket left at the path belongs to a copy that died.
  QLocalServer::removeServer(ServerPath());
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  server_.listen(ServerPath());
  return true;
}

void SingleInstance::AnswerRequest() {
  while (QLocalSocket* client = server_.nextPendingConnection()) {
    QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    QObject::connect(client, &QLocalSocket::readyRead, client, [this, client] {
      if (!client->readAll().contains('\n')) return;
      if (raise_) raise_();
      client->write(kRaised);
      client->flush();
    });
  }
}

bool SingleInstance::AskRunningCopyToRaise(int waitMs) const {
  QLocalSocket socket;
  socket.connectToServer(ServerPath());
  if (!socket.waitForConnected(waitMs)) return false;
  socket.write(kRaiseRequest);
  if (!socket.waitForBytesWritten(waitMs)) return false;
  return socket.waitForReadyRead(waitMs) && socket.readAll() == kRaised;
}

// ------------------------------------------------------------ application

CQuarnelApp::CQuarnelApp(Prompter& prompter, QString versionText)
    : prompter_(prompter), versionText_(std::move(versionText)) {}

CQuarnelApp::~CQuarnelApp() = default;

void CQuarnelApp::ShowPlain(const QString& text) { prompter_.ShowMessage(nullptr, MessageStyle::Plain, text); }

bool CQuarnelApp::LoadLibrary(const std::string& name, std::string* missing) {
  const VestraLibrary::Outcome outcome = library_.Load(name, missing);
  if (outcome == VestraLibrary::Outcome::Bound) return true;
  ShowPlain(QString::fromStdString(VestraLibrary::FailureText(outcome)));
  return false;
}

int CQuarnelApp::Run() {
  if (!LoadLibrary(TableText(text::kLibraryName).toStdString())) return EXIT_FAILURE;
  SingleInstance single;
  if (!single.Claim()) {
    // Only a lock held by another copy means "already running"; one that
    // cannot be used would otherwise end every start without a word.
    if (!single.Error().empty()) {
      prompter_.ShowMessage(nullptr, MessageStyle::Stop,
                            QStringLiteral("%1 cannot start: %2")
                                .arg(TableText(text::kProgramName), QString::fromStdString(single.Error())));
      return EXIT_FAILURE;
    }
    single.AskRunningCopyToRaise();
    return EXIT_SUCCESS;
  }
  QtSettingsStore settings;
  const ApiTable windowTable = library_.Table();
  GuardedApiTable api(windowTable);
  CQuarnelDlg window(api, settings, prompter_, versionText_);
  single.OnRaiseRequest([&window] {
    // Before the window shows (start-up boxes) only the box comes forward.
    if (window.isVisible()) {
      window.showNormal();
      window.raise();
      window.activateWindow();
    }
    if (QWidget* box = QApplication::activeModalWidget(); box && box != &window) {
      box->raise();
      box->activateWindow();
    }
  });
  if (window.Initialise()) window.exec();
  return EXIT_SUCCESS;
}

}  // namespace quarnel
