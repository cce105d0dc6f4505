// src/core/peers/PeerNetwork.cpp
#include "core/peers/PeerNetwork.h"

#include <chrono>
#include <utility>

#include "core/res/Strings.h"

PeerNetwork::PeerNetwork(Services services, CPeerSocket::Options options)
    : m_s(std::move(services)),
      m_threadPresenter(m_s.presenter, m_s.poster),
      m_alerts(m_s.presenter, m_s.clock, m_s.poster),
      m_directory(m_s.clock),
      m_extras(),
      m_answered(m_s.clock, [this](uint32_t address) { return m_socket.IsBeyondRouter(address); }),
      m_socket(m_s.state, m_threadPresenter, WithExtras(std::move(options))),
      m_items(m_directory, m_s.tree, m_alerts),
      m_notifier(m_s.notifications),
      m_screen(PeerScreen::Services{
          .directory = m_directory,
          .state = m_s.state,
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
              },
          .presenceHeard =
              [this](uint32_t sender, bool goodbye) {
                  if (!m_socket.IsOnLocalNetwork(sender)) {
                      m_answered.Heard(sender, goodbye);
                  }
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
                [this](std::vector<PeerEvent> marked) {
                    // The task may run after this object is gone; the weak token tells.
                    m_s.poster.Post(
                        [alive = std::weak_ptr<PeerNetwork*>(m_alive), marked = std::move(marked)] {
                            if (const auto self = alive.lock(); self && !(*self)->m_stopped) {
                                (*self)->TellPeersSilent(marked);
                            }
                        });
                }),
      m_periodWatch(m_s.state.Subscribe([this](const AppState::Change& change) {
          if (change.aboutMePeriod) {
              m_announcer.PeriodChanged();
          }
          if (change.settings) {
              ReadExtraAddresses();
          }
      })) {
    ReadExtraAddresses();
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
        // A hidden window is redrawn when it is opened again.
        ConversationWindow* const window = m_directory.Read(index, [](const PeerRecord& record) {
            return record.windowHidden ? nullptr : record.window;
        });
        if (window != nullptr) {
            window->RefreshLog();
        }
    }
}

CPeerSocket::Options PeerNetwork::WithExtras(CPeerSocket::Options options) {
    if (!options.extraDestinations) {
        options.extraDestinations = [this] {
            std::vector<uint32_t> destinations = m_extras.Destinations();
            const std::vector<uint32_t> answered = m_answered.Addresses();
            destinations.insert(destinations.end(), answered.begin(), answered.end());
            return destinations;
        };
    }
    return options;
}

void PeerNetwork::ReadExtraAddresses() {
    m_extras.SetList(m_s.state.Read([](const SettingsRecord& s) { return s.extraAddresses; }));
    if (m_socket.IsOpen() && !m_stopped) {
        m_extras.StartResolving();
    }
}

std::vector<int> PeerNetwork::RemotePeers() {
    std::vector<int> peers;
    for (int i = 0; i < m_directory.PeerCount(); ++i) {
        const auto [ip, status] = m_directory.Read(
            i, [](const PeerRecord& record) { return std::pair(record.ip, record.status); });
        if (ip != 0 && status != Disconnected && !m_socket.IsOnLocalNetwork(ip)) {
            peers.push_back(i);
        }
    }
    return peers;
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
    m_extras.StartResolving();
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
    m_screen.DispatchDatagram(arrival.bytes.data(), arrival.bytes.size(), arrival.sender);
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
        ConversationWindow* const window =
            m_directory.Read(i, [](const PeerRecord& record) { return record.window; });
        if (window != nullptr) {
            std::erase_if(m_windows, [window](const auto& owned) { return owned.get() == window; });
        }
    }
    m_windows.clear();
}

void PeerNetwork::TellPeersSilent(const std::vector<PeerEvent>& marked) {
    for (const PeerEvent& event : marked) {
        m_screen.Show(event);
    }
}

void PeerNetwork::OpenConversation(int index) {
    if (!m_directory.IsValidIndex(index)) {
        return;
    }
    ConversationWindow* window =
        m_directory.Read(index, [](const PeerRecord& record) { return record.window; });
    if (window == nullptr) {
        std::unique_ptr<ConversationWindow> created = m_s.conversations.CreateConversation(
            ConversationParts{.directory = m_directory, .endpoint = m_socket, .items = m_items},
            index);
        if (!created) {
            m_s.presenter.ShowMessage(res::String(res::kStrAppTitle), "Error creating Dialog",
                                      BoxIcon::None);
            return;
        }
        window = created.get();
        m_directory.Modify(index, [window](PeerRecord& record) { record.window = window; });
        m_windows.push_back(std::move(created));
    }
    const PeerFacts facts = m_directory.Facts(index);
    if (facts.status == Disconnected) {
        window->MarkPeerDisconnected(false);
    }
    window->SetCaption(facts.name);
    window->RefreshLog();
    m_directory.Modify(index, [](PeerRecord& record) { record.windowHidden = false; });
    window->ShowAndRaise();
}

void PeerNetwork::OpenNotifiedConversation() {
    OpenConversation(m_notifier.LastNotifiedPeer());
}
