// src/widgets/desktop/SingleInstance.cpp
#include "widgets/desktop/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include "widgets/adapters/Logging.h"

namespace platform {
namespace {

constexpr int kLockWaitMs = 5000;
constexpr int kConnectMs = 1000;
// The running copy answers from its event loop, which its start-up may still
// hold for a moment.
constexpr int kAnswerMs = 5000;
constexpr qint64 kMaxRequest = 16;

const QByteArray kShowRequest = QByteArrayLiteral("show\n");
const QByteArray kShownAnswer = QByteArrayLiteral("ok\n");

// Copies that start together decide one after the other.
QString LockPath(const QString& name) {
    if (QDir::isAbsolutePath(name)) {
        return name + QStringLiteral(".lock");
    }
    return QDir::temp().filePath(name + QStringLiteral(".lock"));
}

}  // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), m_name(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::NameFor(const QString& settingsPath) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(settingsPath.toUtf8());
    hash.addData(QByteArrayLiteral("\n"));
    hash.addData(QDir::homePath().toUtf8());
    const QString name =
        QStringLiteral("murmex3-") + QString::fromLatin1(hash.result().toHex().left(16));
#ifdef Q_OS_WIN
    return name;  // a pipe name: the system keeps them apart per session
#else
    // The runtime folder belongs to the user alone; without one the socket
    // goes to the temporary folder.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? name : QDir(runtime).filePath(name);
#endif
}

SingleInstance::Start SingleInstance::Begin() {
    QLockFile lock(LockPath(m_name));
    if (!lock.tryLock(kLockWaitMs)) {
        qCWarning(lcUi) << "Starting without the start-up lock" << LockPath(m_name) << "error"
                        << lock.error();
    }
    if (const Start asked = AskRunningCopy(); asked != Start::First) {
        return asked;
    }
    Listen();
    return Start::First;
}

SingleInstance::Start SingleInstance::AskRunningCopy() {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kConnectMs)) {
        return Start::First;
    }
    socket.write(kShowRequest);
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() < kMaxRequest &&
           socket.waitForReadyRead(kAnswerMs)) {
        answer += socket.read(kMaxRequest);
    }
    if (answer != kShownAnswer) {
        qCWarning(lcUi) << "The running copy did not answer:" << socket.errorString();
        return Start::NoAnswer;
    }
    return Start::HandedOver;
}

void SingleInstance::Listen() {
    // Nothing answered, so a socket still there was left by a copy that ended
    // without closing it.
    QLocalServer::removeServer(m_name);
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(m_name)) {
        qCWarning(lcUi) << "Later copies will not find this one:" << m_name
                        << server->errorString();
        delete server;
        return;
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::OnConnection);
}

void SingleInstance::OnConnection() {
    while (QLocalSocket* client = m_server->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] { OnRequest(client); });
        OnRequest(client);
    }
}

// One short line per client; anything else closes the connection.
void SingleInstance::OnRequest(QLocalSocket* client) {
    if (!client->canReadLine()) {
        if (client->bytesAvailable() >= kMaxRequest) {
            client->abort();
        }
        return;
    }
    const QByteArray request = client->readLine(kMaxRequest);
    if (request == kShowRequest) {
        qCInfo(lcUi) << "Another copy was started: showing the main window";
        if (m_onShow) {
            m_onShow();
        }
        client->write(kShownAnswer);
    } else {
        qCWarning(lcUi) << "Unknown request from another copy:" << request.left(kMaxRequest);
    }
    client->disconnectFromServer();
}

}  // namespace platform
