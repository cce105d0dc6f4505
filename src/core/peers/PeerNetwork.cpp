// src/core/peers/PeerNetwork.cpp
#include "core/peers/PeerNetwork.h"

#include <chrono>
#include <mutex>

#include "core/peers/NotificationBuilder.h"
#include "core/res/Strings.h"

PeerNetwork::PeerNetwork(Services services, CPeerSocket::Options options)
    : m_s(std::move(services)),
      m_threadPresenter(m_s.presenter, m_s.poster),
      m_alerts(m_s.presenter, m_s.clock, m_s.poster),
      m_directory(m_s.clock),
      m_socket(m_s.state, m_threadPresenter, std::move(options)),
      m_items(m_directory, m_s.tree, m_alerts),
      m_notifier(m_s.notifications),
      m_dispatcher(Dispatcher::Services{
          .directory = m_directory,
          .state = m_s.state,
          .tree = m_s.tree,
          .items = m_items,
          .notifier = m_notifier,
          .sounds = m_s.sounds,
          .presenter = m_alerts,
          .clock = m_s.clock,
          .isOwnAddress = [this](uint32_t address) { return m_socket.IsOwnAddress(address); },
          .saveSettings = m_s.saveSettings}),
      m_handOver(m_s.poster, [this](const Arrival& arrival) { Deliver(arrival); }),
      m_receiver(DatagramReceiver::Services{
          .directory = m_directory,
          .clock = m_s.clock,
          .handOver = m_handOver,
          .ownSender = [this](uint32_t address) { return m_socket.OwnSender(address); },
          .showMySelf =
              [this] {
                  return m_s.state.Read([](const SettingsRecord& s) { return s.showMySelf; });
              }}),
      m_announcer(
          [this] {
              const bool unreachable = m_socket.NetworkUnreachable();
              m_socket.BroadcastPresence();
              if (m_socket.NetworkUnreachable() != unreachable && m_s.reachChanged) {
                  m_s.reachChanged();
              }
          },
          [this] {
              return m_s.state.Read([](const SettingsRecord& s) { return s.aboutMePeriod; });
          },
          m_s.wait),
      m_watcher(m_directory, m_s.clock, m_s.wait,
                [this](int index) {
                    // The task may run after this object is gone; the weak token tells.
                    m_s.poster.Post([alive = std::weak_ptr<PeerNetwork*>(m_alive), index] {
                        if (const auto self = alive.lock(); self && !(*self)->m_stopped) {
                            (*self)->TellPeerSilent(index);
                        }
                    });
                }),
      m_periodWatch(m_s.state.Subscribe([this](const AppState::Change& change) {
          if (change.aboutMePeriod) {
              m_announcer.PeriodChanged();
          }
      })) {
    // The tree takes what one drain dispatches as one batch.
    m_handOver.SetBatchBounds([this] { m_s.tree.BeginBatch(); }, [this] { m_s.tree.EndBatch(); });
    // One peer's new lines may remove the oldest of another's: its open window
    // is redrawn once the append is done.
    m_directory.SetTrimmedListener([this] {
        m_s.poster.Post([alive = std::weak_ptr<PeerNetwork*>(m_alive)] {
            if (const auto self = alive.lock()) {
                (*self)->RedrawTrimmedWindows();
            }
        });
    });
}

void PeerNetwork::RedrawTrimmedWindows() {
    for (const int index : m_directory.TakeTrimmedPeers()) {
        ConversationWindow* window = nullptr;
        {
            std::lock_guard lock(m_directory.Mutex());
            const PeerRecord& record = m_directory.PeerAt(index);
            // A hidden window is redrawn when it is opened again.
            if (!record.windowHidden) {
                window = record.window;
            }
        }
        if (window != nullptr) {
            window->RefreshLog();
        }
    }
}

PeerNetwork::~PeerNetwork() {
    Shutdown();
}

bool PeerNetwork::Start() {
    if (m_stopped) {
        return false;
    }
    if (const int error = platform::InitSocketLibrary(); error != 0) {
        m_s.presenter.ShowMessage(res::String(res::kStrAppTitle),
                                  res::String(res::kStrSocketsInitFailed), BoxIcon::None);
        return false;
    }
    if (!m_socket.OpenEndpoint()) {
        ShowSocketError(m_s.presenter, "Create", m_socket.LastError());
        return false;
    }
    m_announcer.Start();
    m_watcher.Start();
    m_receiver.Start(m_socket.Handle());
    return true;
}

void PeerNetwork::Deliver(const Arrival& arrival) {
    // After shutdown has begun nothing is dispatched and a failure shows nothing.
    if (m_stopRequested) {
        return;
    }
    if (arrival.error != 0) {
        ShowSocketError(m_alerts, "ReceiveFrom", arrival.error);
        return;
    }
    m_dispatcher.DispatchDatagram(arrival.bytes.data(), arrival.bytes.size(), arrival.sender);
}

void PeerNetwork::Stop() {
    if (m_stopped) {
        return;
    }
    m_stopped = true;
    const bool started = ThreadsRunning();
    if (m_socket.IsOpen()) {
        m_socket.BroadcastGoodbye();
        m_s.wait.Pause(nullptr, std::chrono::milliseconds(333));
        m_socket.ShutDown();
    }
    m_stopRequested = true;
    m_alerts.Close();
    // Releases a worker that waits for a box to be closed.
    m_threadPresenter.RequestStop();
    // Also ends the hand-over, so nothing waiting is dispatched.
    m_receiver.RequestStop();
    if (started) {
        m_announcer.RequestStop();
        m_watcher.RequestStop();
        m_announcer.Join();
        m_watcher.Join();
        m_receiver.Join();
    }
    m_socket.Close();
}

void PeerNetwork::Shutdown() {
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    Stop();
    for (int i = 0; i < m_directory.PeerCount(); ++i) {
        ConversationWindow* window = nullptr;
        {
            std::lock_guard lock(m_directory.Mutex());
            window = m_directory.PeerAt(i).window;
        }
        if (window != nullptr) {
            std::erase_if(m_windows, [window](const auto& owned) { return owned.get() == window; });
        }
    }
    m_windows.clear();
}

void PeerNetwork::TellPeerSilent(int index) {
    if (!m_directory.IsValidIndex(index)) {
        return;
    }
    ConversationWindow* window = nullptr;
    std::string name;
    {
        std::lock_guard lock(m_directory.Mutex());
        const PeerRecord& record = m_directory.PeerAt(index);
        // An announcement that arrived meanwhile has brought the peer back.
        if (record.status != Disconnected) {
            return;
        }
        window = record.window;
        name = record.name;
    }
    // The icon, then the window, then the balloon (a box without a tray).
    m_items.RefreshPeerItem(index);
    if (window != nullptr) {
        window->MarkPeerDisconnected(true);
    }
    m_notifier.NotifyPeerEvent(NotificationBuilder(m_s.state, m_alerts).PeerSilent(name, index));
}

void PeerNetwork::OpenConversation(int index) {
    if (!m_directory.IsValidIndex(index)) {
        return;
    }
    std::unique_lock lock(m_directory.Mutex());
    PeerRecord& record = m_directory.PeerAt(index);
    if (record.window == nullptr) {
        std::unique_ptr<ConversationWindow> created = m_s.conversations.CreateConversation(
            ConversationParts{.directory = m_directory, .endpoint = m_socket, .items = m_items},
            index);
        if (!created) {
            // No box is shown under the lock: the watcher waits for it.
            lock.unlock();
            m_s.presenter.ShowMessage(res::String(res::kStrAppTitle), "Error creating Dialog",
                                      BoxIcon::None);
            return;
        }
        record.window = created.get();
        m_windows.push_back(std::move(created));
    }
    ConversationWindow* window = record.window;
    if (record.status == Disconnected) {
        window->MarkPeerDisconnected(false);
    }
    window->SetCaption(record.name);
    window->RefreshLog();
    record.windowHidden = false;
    window->ShowAndRaise();
}

void PeerNetwork::OpenNotifiedConversation() {
    OpenConversation(m_notifier.LastNotifiedPeer());
}
