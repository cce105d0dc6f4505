// src/widgets/desktop/SingleInstance.h
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;
class QLocalSocket;

namespace platform {

// One running copy per user. The first copy listens on a local socket named
// after the user's settings file; a copy started later asks it to show its
// main window and ends. Copies with other settings files (another user,
// another home) do not meet. Everything runs on the thread that made it.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Start {
        First,       // no copy runs: this one goes on (listening when it can)
        HandedOver,  // a running copy was asked to show its window and said so
        NoAnswer,    // a copy is there but did not answer in time
    };

    // name: a server name from NameFor, or a socket path of the caller's.
    explicit SingleInstance(QString name, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The server name for a settings file: a hash of its path (and of the
    // home folder), in the user's runtime folder where there is one.
    static QString NameFor(const QString& settingsPath);

    Start Begin();
    // Called for each later copy's request, on this object's thread.
    void SetShowHandler(std::function<void()> handler) { m_onShow = std::move(handler); }

private:
    Start AskRunningCopy();
    void Listen();
    void OnConnection();
    void OnRequest(QLocalSocket* client);

    QString m_name;
    QLocalServer* m_server = nullptr;
    std::function<void()> m_onShow;
};

}  // namespace platform
