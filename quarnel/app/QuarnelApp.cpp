#include "app/QuarnelApp.h"

#include <dlfcn.h>
#include <unistd.h>

#include <QApplication>
#include <QLocalSocket>
#include <filesystem>

#include "app/QtSettingsStore.h"
#include "base/StringTable.h"
#include "ui/Prompter.h"
#include "ui/QuarnelDlg.h"

namespace quarnel {
namespace {

constexpr char kRaiseRequest[] = "raise\n";
constexpr char kRaised[] = "raised\n";

QString Text(int textId) { return QString::fromUtf8(LoadText(textId)); }

std::string OwnDirectory() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

}  // namespace

// ------------------------------------------------------------ single copy

SingleInstance::SingleInstance() : lock_(Text(105).toStdString()) {
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

CQuarnelApp::~CQuarnelApp() {
  if (library_) dlclose(library_);
}

void CQuarnelApp::ShowPlain(const QString& text) { prompter_.ShowMessage(nullptr, MessageStyle::Plain, text); }

bool CQuarnelApp::LoadLibrary(const std::string& name) {
  library_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library_ && name.find('/') == std::string::npos) {
    const std::string beside = OwnDirectory() + "/" + name;
    library_ = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (library_) return true;
  ShowPlain(Text(156) + Text(186));
  return false;
}

bool CQuarnelApp::BindLibrary(std::string* missing) {
  const SymbolLookup lookup = [this](const char* name) { return dlsym(library_, name); };
  const bool bound = BindApiTable(lookup, table_, missing);
  if (!bound) ShowPlain(Text(189) + Text(156));
  if (bound) BindOptionalExports(lookup, table_);
  return bound;
}

int CQuarnelApp::Run() {
  if (!LoadLibrary(Text(156).toStdString()) || !BindLibrary()) return EXIT_FAILURE;
  SingleInstance single;
  if (!single.Claim()) {
    single.AskRunningCopyToRaise();
    return EXIT_SUCCESS;
  }
  QtSettingsStore settings;
  const ApiTable windowTable = table_;
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
