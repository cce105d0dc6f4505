// tests/ui/TestRichChatDialog.cpp
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTimer>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Fakes.h"
#include "core/PeerFakes.h"
#include "core/net/Packet.h"
#include "core/peers/PeerNetwork.h"
#include "core/res/Cp1250.h"
#include "core/res/Strings.h"
#include "platform/Socket.h"
#include "support/RtfReader.h"
#include "ui/RecordingBoxes.h"
#include "widgets/adapters/Cp1250Input.h"
#include "widgets/adapters/TextCodec.h"
#include "widgets/chat/RichChatDialog.h"

namespace {

constexpr int kReceiveTimeoutMs = 2000;
const std::string kMarker =
    "\x7F\x7F"
    "end";

// A host on the loopback network that records what arrives at one address.
class Listener {
public:
    Listener(const char* address, uint16_t port) : m_address(address) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &local.sin_addr);
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }
    ~Listener() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool Bound() const { return m_bound; }
    const std::string& Address() const { return m_address; }
    uint16_t Port() const {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(local.sin_port);
    }
    std::optional<std::string> Receive() {
        pollfd fd{m_fd, POLLIN, 0};
        if (::poll(&fd, 1, kReceiveTimeoutMs) <= 0) {
            return std::nullopt;
        }
        std::array<char, 600> buffer{};
        const ssize_t got = ::recv(m_fd, buffer.data(), buffer.size(), 0);
        if (got < 0) {
            return std::nullopt;
        }
        return std::string(buffer.data(), static_cast<size_t>(got));
    }

private:
    std::string m_address;
    int m_fd = -1;
    bool m_bound = false;
};

QString Describe(const std::string& bytes) {
    DatagramView view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (view.Type() == kTypeChat && view.Subtype() == kSubText) {
        return QStringLiteral("text ") + platform::FromCp1250(view.BodyText());
    }
    if (view.Type() == kTypeChat && view.Subtype() == kSubTyping && view.Size() == 4) {
        return QStringLiteral("typing");
    }
    if (view.Type() == kTypeBell && view.Size() == 4) {
        return QStringLiteral("bell");
    }
    return QStringLiteral("other");
}

// "text|colour|b|i" for every fragment of a block of the log.
QStringList Pieces(const QTextBlock& block) {
    QStringList pieces;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const QTextCharFormat format = fragment.charFormat();
        pieces << fragment.text() + QLatin1Char('|') + format.foreground().color().name() +
                      (format.fontWeight() >= QFont::Bold ? QStringLiteral("|b")
                                                          : QStringLiteral("|-")) +
                      (format.fontItalic() ? QStringLiteral("|i") : QStringLiteral("|-"));
    }
    return pieces;
}

// Types the text as the keyboard delivers it, one character per key, also
// characters beyond Latin-1 (which QTest::keyClicks cannot send).
void Type(QWidget* widget, const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype length = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size()) {
            length = 2;
        }
        const QString key = text.mid(i, length);
        i += length - 1;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, key);
        QCoreApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, key);
        QCoreApplication::sendEvent(widget, &release);
    }
}

// The widget that Tab moves to from the given one.
QWidget* NextTabStop(QWidget* from) {
    for (QWidget* next = from->nextInFocusChain(); next != from; next = next->nextInFocusChain()) {
        if ((next->focusPolicy() & Qt::TabFocus) && next->isVisibleTo(from->window()) &&
            next->isEnabled()) {
            return next;
        }
    }
    return nullptr;
}

class InstantWait final : public StopWait {
public:
    bool Pause(StopSignal*, std::chrono::milliseconds) override { return true; }
};

// One peer at the loopback address, an endpoint whose unicast and broadcast
// datagrams land at two listeners, and the peer's window on the screen.
struct Harness {
    Harness() {
        state.Modify([](SettingsRecord& s) { s.userName = "jana"; });
        state.SetHostComputerName("PC7");
        std::lock_guard lock(LockOf(directory));
        index = directory.AddPeer(nullptr, "Petr", "Sklad", unicast.Address(), Ready);
    }
    ~Harness() { window.reset(); }

    CPeerSocket::Options Options() const {
        CPeerSocket::Options options;
        options.port = 0;
        options.destinationPort = unicast.Port();
        options.broadcastAddress = broadcast.Address();
        return options;
    }

    // Everything that arrived at the listener since the last look: a marker
    // sent through the same socket comes after all of it.
    QStringList Arrived(Listener& listener) {
        const auto address = platform::ParseDottedAddress(listener.Address());
        platform::SendDatagram(socket.Handle(), address.value_or(0), listener.Port(),
                               kMarker.data(), kMarker.size());
        QStringList arrived;
        while (const auto datagram = listener.Receive()) {
            if (*datagram == kMarker) {
                return arrived;
            }
            arrived << Describe(*datagram);
        }
        arrived << QStringLiteral("(marker missing)");
        return arrived;
    }

    std::vector<HistoryEntry> History() {
        std::lock_guard lock(LockOf(directory));
        return directory.PeerAt(index).history.Entries();
    }
    bool WindowHidden() {
        std::lock_guard lock(LockOf(directory));
        return directory.PeerAt(index).windowHidden;
    }
    // Appends the entries to the peer's history.
    void Fill(const std::vector<HistoryEntry>& history) {
        std::lock_guard lock(LockOf(directory));
        for (const HistoryEntry& entry : history) {
            directory.PeerAt(index).history.Append(entry);
        }
    }

    FakeClock clock;
    AppState state;
    RecordingBoxes presenter;
    PeerDirectory directory{clock};
    FakeTree tree;
    PeerItems items{directory, tree, presenter};
    Listener unicast{"127.0.0.1", 0};
    Listener broadcast{"127.0.0.2", unicast.Port()};
    CPeerSocket socket{state, presenter, Options()};
    int index = 0;
    std::unique_ptr<CMRichChatDialog> window;
};

}  // namespace

class TestRichChatDialog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void controlsStandInTabOrder();
    void enterSendsTypingNoticeThenTextAndLogsIt();
    void oneTypingNoticePerMessage();
    void emptyInputSendsNothing();
    void allRecipientsBroadcastButTheBellRingsOnlyThePeer();
    void unknownRecipientShowsTraceCodes();
    void closeAndEscHideAndKeepTheWindowState();
    void noticesAndButtonStatesFollowThePeer();
    void logShowsColoursBoldAndItalics();
    void reservedCharactersAndLineBreaksShowLiterallyOnOneLine();
    void aNewEntryIsAppendedAndTheLinesBeforeStay();
    void refreshShowsTheNewestLine();
    void aNewWindowOpensAtTheNewestLine();
    void tenThousandEntriesGiveTenThousandBlocks();
    void removedEntriesLeaveTheTopAndOneLineSaysSo();
    void saveWritesTheConversationAsRtf();
    void inputTakesAtMost503CodePageBytes();
    void charactersOutsideTheCodePageAreRefusedWithAHint();
    void refusedCharacterHintOutlastsTheNextKeysUntilItsTimeOrAnEmptyInput();
    void theFactoryMakesTheWindowsOfItsNetwork();

private:
    QLineEdit* Input() { return Child<QLineEdit>("input"); }
    QComboBox* Recipient() { return Child<QComboBox>("recipient"); }
    QPlainTextEdit* Log() { return Child<QPlainTextEdit>("log"); }
    QPushButton* SendButton() { return Child<QPushButton>("sendButton"); }
    QPushButton* BellButton() { return Child<QPushButton>("bellButton"); }
    platform::InputHint* Hint() { return Child<platform::InputHint>("hint"); }
    template <class T>
    T* Child(const char* name) {
        T* child = m_h->window->findChild<T*>(QLatin1String(name));
        if (child == nullptr) {
            qFatal("no child %s", name);
        }
        return child;
    }
    QTextDocument* LogDocument() { return Log()->document(); }
    QString LastLine() { return LogDocument()->lastBlock().text(); }

    std::unique_ptr<Harness> m_h;
    bool m_boxesExpected = false;
};

void TestRichChatDialog::init() {
    m_h = std::make_unique<Harness>();
    QVERIFY(m_h->unicast.Bound());
    QVERIFY(m_h->broadcast.Bound());
    QVERIFY(m_h->socket.OpenEndpoint());
    m_h->window = std::make_unique<CMRichChatDialog>(m_h->directory, m_h->state, m_h->socket,
                                                     m_h->items, m_h->presenter, m_h->index);
    {
        std::lock_guard lock(LockOf(m_h->directory));
        m_h->directory.PeerAt(m_h->index).window = m_h->window.get();
    }
    m_h->window->SetCaption("Petr");
    m_h->window->ShowAndRaise();
    QVERIFY(QTest::qWaitForWindowExposed(m_h->window.get()));
}

void TestRichChatDialog::cleanup() {
    if (m_h && !m_boxesExpected) {
        QCOMPARE(m_h->presenter.Texts(), std::vector<std::string>{});
    }
    m_boxesExpected = false;
    m_h.reset();
}

void TestRichChatDialog::controlsStandInTabOrder() {
    CMRichChatDialog& window = *m_h->window;
    QVERIFY(window.isWindow());
    QVERIFY(window.parent() == nullptr);
    QVERIFY(!window.isModal());
    QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(window.windowTitle(), QStringLiteral("Petr"));
    QVERIFY(!m_h->WindowHidden());

    QCOMPARE(Recipient()->count(), 2);
    QCOMPARE(Recipient()->itemText(0), QStringLiteral("Uživateli"));
    QCOMPARE(Recipient()->itemText(1), QStringLiteral("Všem"));
    QCOMPARE(Recipient()->currentIndex(), 0);
    QVERIFY(!Recipient()->isEditable());
    QVERIFY(Log()->isReadOnly());
    QCOMPARE(Log()->viewport()->palette().color(QPalette::Base), QColor(240, 240, 240));
    QCOMPARE(Log()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(SendButton()->text(), QStringLiteral("Odeslat"));
    QCOMPARE(BellButton()->text(), QStringLiteral("Zvonek"));
    QVERIFY(SendButton()->isDefault());
    QCOMPARE(window.focusWidget(), Input());

    QCOMPARE(NextTabStop(Log()), Input());
    QCOMPARE(NextTabStop(Input()), SendButton());
    QCOMPARE(NextTabStop(SendButton()), BellButton());
    QCOMPARE(NextTabStop(BellButton()), Recipient());

    // The log grows with the window.
    const int logHeight = Log()->height();
    window.resize(window.width() + 100, window.height() + 150);
    QTRY_VERIFY(Log()->height() >= logHeight + 140);
}

void TestRichChatDialog::enterSendsTypingNoticeThenTextAndLogsIt() {
    Type(Input(), QStringLiteral("ahoj Petře"));
    QTest::keyClick(Input(), Qt::Key_Return);

    QCOMPARE(m_h->Arrived(m_h->unicast),
             (QStringList{QStringLiteral("typing"), QStringLiteral("text ahoj Petře")}));
    QCOMPARE(m_h->Arrived(m_h->broadcast), QStringList{});
    QCOMPARE(m_h->History(),
             (std::vector<HistoryEntry>{{Outgoing, "jana", cp1250::FromUtf8("ahoj Petře")}}));
    QVERIFY(Input()->text().isEmpty());
    QCOMPARE(m_h->window->focusWidget(), Input());
    QCOMPARE(LogDocument()->blockCount(), 1);
    QCOMPARE(LastLine(), QStringLiteral("jana@PC7: ahoj Petře"));
    // The peer's item is made again with its status icon.
    QCOMPARE(QString::fromStdString(m_h->tree.Dump()), QStringLiteral("Sklad: Petr(0)"));
}

void TestRichChatDialog::oneTypingNoticePerMessage() {
    Type(Input(), QStringLiteral("ab"));
    QTest::keyClick(Input(), Qt::Key_Backspace);
    QTest::mouseClick(SendButton(), Qt::LeftButton);
    Type(Input(), QStringLiteral("cd"));
    QTest::keyClick(Input(), Qt::Key_Enter);
    m_h->state.Modify([](SettingsRecord& s) { s.userName = "jana2"; });
    Type(Input(), QStringLiteral("e"));
    SendButton()->click();

    QCOMPARE(m_h->Arrived(m_h->unicast),
             (QStringList{QStringLiteral("typing"), QStringLiteral("text a"),
                          QStringLiteral("typing"), QStringLiteral("text cd"),
                          QStringLiteral("typing"), QStringLiteral("text e")}));
    QCOMPARE(m_h->History(),
             (std::vector<HistoryEntry>{
                 {Outgoing, "jana", "a"}, {Outgoing, "jana", "cd"}, {Outgoing, "jana2", "e"}}));
    // A renamed user leaves the earlier lines as they were.
    QCOMPARE(LogDocument()->findBlockByNumber(0).text(), QStringLiteral("jana@PC7: a"));
    QCOMPARE(LastLine(), QStringLiteral("jana2@PC7: e"));
}

void TestRichChatDialog::emptyInputSendsNothing() {
    SendButton()->click();
    QTest::keyClick(Input(), Qt::Key_Return);
    QCOMPARE(m_h->Arrived(m_h->unicast), QStringList{});
    QCOMPARE(m_h->History(), std::vector<HistoryEntry>{});
    QCOMPARE(m_h->window->focusWidget(), Input());

    // Typing and deleting sends the one notice; the empty send that follows
    // leaves it counted, so further typing sends none.
    Type(Input(), QStringLiteral("x"));
    QTest::keyClick(Input(), Qt::Key_Backspace);
    QTest::keyClick(Input(), Qt::Key_Return);
    Type(Input(), QStringLiteral("y"));
    QCOMPARE(m_h->Arrived(m_h->unicast), QStringList{QStringLiteral("typing")});
    QCOMPARE(m_h->History(), std::vector<HistoryEntry>{});
}

void TestRichChatDialog::allRecipientsBroadcastButTheBellRingsOnlyThePeer() {
    Recipient()->setCurrentIndex(1);
    Type(Input(), QStringLiteral("všem"));
    QTest::keyClick(Input(), Qt::Key_Return);
    QCOMPARE(m_h->Arrived(m_h->broadcast),
             (QStringList{QStringLiteral("typing"), QStringLiteral("text všem")}));
    QCOMPARE(m_h->Arrived(m_h->unicast), QStringList{});
    QCOMPARE(m_h->History(),
             (std::vector<HistoryEntry>{{Outgoing, "jana", cp1250::FromUtf8("všem")}}));
    QCOMPARE(LastLine(), QStringLiteral("jana@PC7: všem"));

    Input()->setFocus();
    BellButton()->click();
    QCOMPARE(m_h->Arrived(m_h->unicast), QStringList{QStringLiteral("bell")});
    QCOMPARE(m_h->Arrived(m_h->broadcast), QStringList{});
    QCOMPARE(m_h->History().size(), size_t{1});
    QCOMPARE(LogDocument()->blockCount(), 1);
    QCOMPARE(m_h->window->focusWidget(), Input());
}

void TestRichChatDialog::unknownRecipientShowsTraceCodes() {
    Recipient()->addItem(QStringLiteral("?"));
    Recipient()->setCurrentIndex(2);
    Type(Input(), QStringLiteral("zz"));
    QTest::keyClick(Input(), Qt::Key_Return);
    QCOMPARE(m_h->Arrived(m_h->unicast), QStringList{});
    QCOMPARE(m_h->Arrived(m_h->broadcast), QStringList{});
    // The entry is kept although nothing went out.
    QCOMPARE(m_h->History(), (std::vector<HistoryEntry>{{Outgoing, "jana", "zz"}}));
    const std::vector<std::string> texts = m_h->presenter.Texts();
    QCOMPARE(texts.size(), size_t{2});
    QVERIFY(texts[0].ends_with("RichD 2, val 2"));
    QVERIFY(texts[1].ends_with("RichD 0, val 2"));
    m_boxesExpected = true;
}

void TestRichChatDialog::closeAndEscHideAndKeepTheWindowState() {
    QPointer<CMRichChatDialog> window = m_h->window.get();
    Recipient()->setCurrentIndex(1);
    Type(Input(), QStringLiteral("rozepsáno"));
    QCOMPARE(m_h->Arrived(m_h->broadcast), QStringList{QStringLiteral("typing")});

    QVERIFY(window->close());
    QVERIFY(window);
    QVERIFY(!window->isVisible());
    QVERIFY(m_h->WindowHidden());

    {
        std::lock_guard lock(LockOf(m_h->directory));
        m_h->directory.PeerAt(m_h->index).windowHidden = false;
    }
    window->ShowAndRaise();
    QVERIFY(window->isVisible());
    QCOMPARE(Input()->text(), QStringLiteral("rozepsáno"));
    QCOMPARE(Recipient()->currentIndex(), 1);
    // typingSent survived too: more typing sends nothing.
    QTest::keyClick(Input(), Qt::Key_End);
    Type(Input(), QStringLiteral("!"));
    QCOMPARE(m_h->Arrived(m_h->broadcast), QStringList{});

    QTest::keyClick(Input(), Qt::Key_Escape);
    QVERIFY(window);
    QVERIFY(!window->isVisible());
    QVERIFY(m_h->WindowHidden());
    QCOMPARE(Input()->text(), QStringLiteral("rozepsáno!"));
    {
        std::lock_guard lock(LockOf(m_h->directory));
        QCOMPARE(m_h->directory.PeerAt(m_h->index).window, window.data());
    }
}

void TestRichChatDialog::noticesAndButtonStatesFollowThePeer() {
    CMRichChatDialog& window = *m_h->window;
    window.MarkPeerDisconnected(true);
    QVERIFY(!SendButton()->isEnabled());
    QVERIFY(!BellButton()->isEnabled());
    QVERIFY(Input()->isEnabled());
    QCOMPARE(m_h->History(),
             (std::vector<HistoryEntry>{
                 {Incoming, "Petr", res::String(res::kStrPeerDisconnectedNotice), true}}));
    QCOMPARE(Pieces(LogDocument()->lastBlock()),
             (QStringList{QStringLiteral("Petr: |#0000ff|-|-"),
                          QStringLiteral("Uživatel se odpojil - nelze komunikovat!|#ff0000|b|-")}));

    // A disabled Send button takes no Enter.
    Type(Input(), QStringLiteral("halo"));
    QTest::keyClick(Input(), Qt::Key_Return);
    QCOMPARE(m_h->Arrived(m_h->unicast), QStringList{QStringLiteral("typing")});
    QCOMPARE(m_h->History().size(), size_t{1});

    window.MarkPeerReconnected();
    QVERIFY(SendButton()->isEnabled());
    QVERIFY(BellButton()->isEnabled());
    QCOMPARE(LogDocument()->blockCount(), 2);
    QCOMPARE(Pieces(LogDocument()->lastBlock()),
             (QStringList{QStringLiteral("Petr: |#0000ff|-|-"),
                          QStringLiteral("Uživatel se znovu připojil!|#008000|b|-")}));

    window.MarkPeerDisconnected(false);
    QVERIFY(!SendButton()->isEnabled());
    QCOMPARE(m_h->History().size(), size_t{2});

    m_h->state.Modify([](SettingsRecord& s) {
        s.enableDisconMsg = false;
        s.enableConnectMsg = false;
    });
    window.MarkPeerReconnected();
    QVERIFY(SendButton()->isEnabled());
    QVERIFY(BellButton()->isEnabled());
    window.MarkPeerDisconnected(true);
    QVERIFY(!SendButton()->isEnabled());
    QVERIFY(!BellButton()->isEnabled());
    QCOMPARE(m_h->History().size(), size_t{2});
    QCOMPARE(LogDocument()->blockCount(), 2);
}

void TestRichChatDialog::logShowsColoursBoldAndItalics() {
    m_h->Fill({{Incoming, "P1", "ahoj"},
               {Incoming, "P1", res::String(res::kStrPeerDisconnectedNotice)},
               {Outgoing, "U2", "*hotovo"},
               {Outgoing, "U2", "!pozor"},
               {Outgoing, "U2", cp1250::FromUtf8("prosté")},
               {7, "X", "lost"},
               {Incoming, "P1", "!"}});
    m_h->window->RefreshLog();
    // An entry of an unknown kind has no line, only the internal-error box.
    const std::vector<std::string> texts = m_h->presenter.Texts();
    QCOMPARE(texts.size(), size_t{1});
    QVERIFY(texts[0].ends_with("RichD 1, val 7"));
    m_boxesExpected = true;

    QTextDocument* log = LogDocument();
    QCOMPARE(log->blockCount(), 6);
    QCOMPARE(Pieces(log->findBlockByNumber(0)),
             (QStringList{QStringLiteral("P1: |#0000ff|-|-"), QStringLiteral("ahoj|#000000|b|-")}));
    QCOMPARE(Pieces(log->findBlockByNumber(1)),
             (QStringList{QStringLiteral("P1: |#0000ff|-|-"),
                          QStringLiteral("Uživatel se odpojil - nelze komunikovat!|#ff0000|b|-")}));
    QCOMPARE(Pieces(log->findBlockByNumber(2)),
             (QStringList{QStringLiteral("U2@PC7: |#000080|-|-"),
                          QStringLiteral("hotovo|#008000|-|i")}));
    QCOMPARE(Pieces(log->findBlockByNumber(3)), (QStringList{QStringLiteral("U2@PC7: |#000080|-|-"),
                                                             QStringLiteral("pozor|#ff0000|-|i")}));
    QCOMPARE(Pieces(log->findBlockByNumber(4)),
             (QStringList{QStringLiteral("U2@PC7: |#000080|-|-"),
                          QStringLiteral("prosté|#000000|-|i")}));
    QCOMPARE(Pieces(log->findBlockByNumber(5)), QStringList{QStringLiteral("P1: |#0000ff|-|-")});

    // A new line takes the computer name of the moment.
    m_h->state.SetHostComputerName("NB");
    m_h->Fill({{Outgoing, "U2", "x"}});
    m_h->window->RefreshLog();
    QCOMPARE(log->blockCount(), 7);
    QCOMPARE(LastLine(), QStringLiteral("U2@NB: x"));

    // An empty history gives an empty log.
    int empty = 0;
    {
        std::lock_guard lock(LockOf(m_h->directory));
        empty = m_h->directory.AddPeer(nullptr, "Eva", "Sklad", "127.0.0.9", Ready);
    }
    CMRichChatDialog other(m_h->directory, m_h->state, m_h->socket, m_h->items, m_h->presenter,
                           empty);
    auto* otherLog = other.findChild<QPlainTextEdit*>(QStringLiteral("log"));
    QCOMPARE(otherLog->document()->blockCount(), 1);
    QCOMPARE(otherLog->toPlainText(), QString());
}

void TestRichChatDialog::reservedCharactersAndLineBreaksShowLiterallyOnOneLine() {
    m_h->Fill({{Incoming, "a{b}\\c", cp1250::FromUtf8("x\\y{z}\\par {\\b tučně}")},
               {Incoming, "P1", cp1250::FromUtf8("řádek\r\ndruhý")},
               {Incoming, "P1", "konec"}});
    m_h->window->RefreshLog();
    QTextDocument* log = LogDocument();
    QCOMPARE(log->blockCount(), 3);
    QCOMPARE(Pieces(log->findBlockByNumber(0)),
             (QStringList{QStringLiteral("a{b}\\c: |#0000ff|-|-"),
                          QStringLiteral("x\\y{z}\\par {\\b tučně}|#000000|b|-")}));
    QCOMPARE(log->findBlockByNumber(1).text(), QStringLiteral("P1: řádekdruhý"));
    QCOMPARE(Pieces(log->findBlockByNumber(2)), (QStringList{QStringLiteral("P1: |#0000ff|-|-"),
                                                             QStringLiteral("konec|#000000|b|-")}));
}

void TestRichChatDialog::aNewEntryIsAppendedAndTheLinesBeforeStay() {
    m_h->Fill({{Incoming, "Petr", cp1250::FromUtf8("první")}, {Outgoing, "jana", "dva"}});
    m_h->window->RefreshLog();
    QTextDocument* log = LogDocument();
    QCOMPARE(log->blockCount(), 2);
    for (QTextBlock block = log->begin(); block.isValid(); block = block.next()) {
        block.setUserState(100 + block.blockNumber());
    }
    // The user has selected a word of the first line.
    QTextCursor selection(log->firstBlock());
    selection.setPosition(6);
    selection.setPosition(11, QTextCursor::KeepAnchor);
    Log()->setTextCursor(selection);
    QCOMPARE(Log()->textCursor().selectedText(), QStringLiteral("první"));

    {
        std::lock_guard lock(LockOf(m_h->directory));
        m_h->directory.PeerAt(m_h->index).AppendIncoming("Petr", cp1250::FromUtf8("třetí"));
    }
    m_h->window->RefreshLog();
    m_h->window->RefreshLog();  // nothing new: nothing drawn
    QCOMPARE(log->blockCount(), 3);
    QCOMPARE(log->findBlockByNumber(0).userState(), 100);
    QCOMPARE(log->findBlockByNumber(1).userState(), 101);
    QCOMPARE(log->findBlockByNumber(0).text(), QStringLiteral("Petr: první"));
    QCOMPARE(log->findBlockByNumber(1).text(), QStringLiteral("jana@PC7: dva"));
    QCOMPARE(Pieces(log->lastBlock()), (QStringList{QStringLiteral("Petr: |#0000ff|-|-"),
                                                    QStringLiteral("třetí|#000000|b|-")}));
    QCOMPARE(Log()->textCursor().selectedText(), QStringLiteral("první"));
}

void TestRichChatDialog::refreshShowsTheNewestLine() {
    std::vector<HistoryEntry> history;
    for (int i = 0; i < 200; ++i) {
        history.push_back(
            {Incoming, "Petr", cp1250::FromUtf8("zpráva číslo ") + std::to_string(i)});
    }
    m_h->Fill(history);
    m_h->window->RefreshLog();
    QScrollBar* bar = Log()->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    auto bottomBlock = [&] {
        const QPoint nearBottom(10, Log()->viewport()->height() - 8);
        return Log()->cursorForPosition(nearBottom).block().blockNumber();
    };
    QCOMPARE(bottomBlock(), 199);

    // Wherever the user has scrolled, a refresh shows the newest line again.
    bar->setValue(0);
    QVERIFY(bottomBlock() < 100);
    m_h->Fill({{Incoming, "Petr", cp1250::FromUtf8("nejnovější")}});
    m_h->window->RefreshLog();
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(bottomBlock(), 200);

    // So does showing a hidden window again, at a new size.
    m_h->window->close();
    m_h->window->resize(m_h->window->width() + 120, m_h->window->height() + 60);
    m_h->window->ShowAndRaise();
    QVERIFY(QTest::qWaitForWindowExposed(m_h->window.get()));
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(bottomBlock(), 200);
}

void TestRichChatDialog::aNewWindowOpensAtTheNewestLine() {
    std::vector<HistoryEntry> history;
    for (int i = 0; i < 200; ++i) {
        history.push_back({Outgoing, "jana", "odstavec " + std::to_string(i)});
    }
    m_h->Fill(history);
    CMRichChatDialog window(m_h->directory, m_h->state, m_h->socket, m_h->items, m_h->presenter,
                            m_h->index);
    window.ShowAndRaise();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* log = window.findChild<QPlainTextEdit*>(QStringLiteral("log"));
    QScrollBar* bar = log->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    const QPoint nearBottom(10, log->viewport()->height() - 8);
    QCOMPARE(log->cursorForPosition(nearBottom).block().blockNumber(), 199);
}

void TestRichChatDialog::tenThousandEntriesGiveTenThousandBlocks() {
    std::vector<HistoryEntry> history;
    for (int i = 0; i < 10000; ++i) {
        history.push_back({i % 2 == 0 ? Incoming : Outgoing, i % 2 == 0 ? "Petr" : "jana",
                           "!text " + std::to_string(i)});
    }
    m_h->Fill(history);
    m_h->window->RefreshLog();
    QCOMPARE(LogDocument()->blockCount(), 10000);
    QCOMPARE(LastLine(), QStringLiteral("jana@PC7: text 9999"));
    QCOMPARE(Pieces(LogDocument()->lastBlock()),
             (QStringList{QStringLiteral("jana@PC7: |#000080|-|-"),
                          QStringLiteral("text 9999|#ff0000|-|i")}));
    QScrollBar* bar = Log()->verticalScrollBar();
    QCOMPARE(bar->value(), bar->maximum());
}

// Past 10,000 entries the oldest go: their lines leave the top of the log, the
// others stay as drawn, and the first line says that older messages were
// removed, also in the saved conversation. When no line drawn is left, the
// log is drawn again.
void TestRichChatDialog::removedEntriesLeaveTheTopAndOneLineSaysSo() {
    const auto entries = [](const char* prefix, int count) {
        std::vector<HistoryEntry> history;
        for (int i = 0; i < count; ++i) {
            history.push_back({Incoming, "Petr", prefix + std::to_string(i)});
        }
        return history;
    };
    // The second entry is of an unknown kind and has no line.
    std::vector<HistoryEntry> first = entries("m", 10000);
    first[1].kind = 7;
    m_h->Fill(first);
    m_h->window->RefreshLog();
    m_boxesExpected = true;
    QTextDocument* log = LogDocument();
    QCOMPARE(log->blockCount(), 9999);
    for (QTextBlock block = log->begin(); block.isValid(); block = block.next()) {
        block.setUserState(block.blockNumber());
    }
    const QStringList removedLine{QStringLiteral("Starší zprávy byly odstraněny.|#ff0000|-|-")};

    m_h->Fill({{Incoming, "Petr", "n1"}, {Outgoing, "jana", "n2"}});
    m_h->window->RefreshLog();
    QCOMPARE(log->blockCount(), 10001);
    QCOMPARE(Pieces(log->firstBlock()), removedLine);
    QCOMPARE(log->findBlockByNumber(1).text(), QStringLiteral("Petr: m2"));
    QCOMPARE(log->findBlockByNumber(1).userState(), 1);
    QCOMPARE(log->findBlockByNumber(9998).userState(), 9998);
    QCOMPARE(LastLine(), QStringLiteral("jana@PC7: n2"));
    QCOMPARE(Log()->verticalScrollBar()->value(), Log()->verticalScrollBar()->maximum());

    m_h->Fill({{Incoming, "Petr", "n3"}});
    m_h->window->RefreshLog();
    QCOMPARE(log->blockCount(), 10001);
    QCOMPARE(Pieces(log->firstBlock()), removedLine);
    QCOMPARE(log->findBlockByNumber(1).text(), QStringLiteral("Petr: m3"));
    QCOMPARE(log->findBlockByNumber(1).userState(), 2);
    QCOMPARE(LastLine(), QStringLiteral("Petr: n3"));

    m_h->Fill(entries("r", 10001));
    m_h->window->RefreshLog();
    QCOMPARE(log->blockCount(), 10001);
    QCOMPARE(Pieces(log->firstBlock()), removedLine);
    QCOMPARE(log->findBlockByNumber(1).text(), QStringLiteral("Petr: r1"));
    QCOMPARE(log->findBlockByNumber(1).userState(), -1);
    QCOMPARE(LastLine(), QStringLiteral("Petr: r10000"));

    // A new window begins with the line too.
    CMRichChatDialog other(m_h->directory, m_h->state, m_h->socket, m_h->items, m_h->presenter,
                           m_h->index);
    QTextDocument* otherLog = other.findChild<QPlainTextEdit*>(QStringLiteral("log"))->document();
    QCOMPARE(otherLog->blockCount(), 10001);
    QCOMPARE(Pieces(otherLog->firstBlock()), removedLine);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("petr.rtf"));
    m_h->window->SetSavePathQuestion([&](QWidget*, const QString&) { return path; });
    m_h->window->SaveConversation();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const std::vector<RtfParagraph> saved = ReadRtf(file.readAll().toStdString());
    QCOMPARE(saved.size(), size_t{10001});
    QVERIFY(saved[0].runs ==
            (std::vector<RtfRun>{RtfRun{cp1250::FromUtf8("Starší zprávy byly odstraněny."),
                                        0xFF0000, false, false, false}}));
    QCOMPARE(saved[1].runs.back().text, std::string("r1"));
}

void TestRichChatDialog::saveWritesTheConversationAsRtf() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    {
        std::lock_guard lock(LockOf(m_h->directory));
        m_h->directory.PeerAt(m_h->index).name = "Petr/Sklad";
    }
    m_h->Fill({{Incoming, "Petr", "ahoj"},
               {Outgoing, "jana", cp1250::FromUtf8("*{hotovo} \\ díky")},
               {Incoming, "Petr", res::String(res::kStrPeerDisconnectedNotice), true}});
    QString answer;
    QList<QWidget*> parents;
    QStringList suggestions;
    m_h->window->SetSavePathQuestion([&](QWidget* parent, const QString& suggested) {
        parents << parent;
        suggestions << suggested;
        return answer;
    });
    auto read = [](const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return std::vector<RtfParagraph>{};
        }
        return ReadRtf(file.readAll().toStdString());
    };
    auto run = [](const char* utf8, uint32_t rgb, bool automatic, bool bold, bool italic) {
        return RtfRun{cp1250::FromUtf8(utf8), rgb, automatic, bold, italic};
    };

    // Ctrl+S, and the file reads back with the log's text and colours.
    answer = folder.filePath(QStringLiteral("petr.rtf"));
    QTest::keyClick(Input(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(parents, QList<QWidget*>{m_h->window.get()});
    QCOMPARE(QFileInfo(suggestions.value(0)).fileName(), QStringLiteral("Petr_Sklad.rtf"));
    const std::vector<RtfParagraph> saved = read(answer);
    QCOMPARE(saved.size(), size_t{3});
    QVERIFY(saved[0].runs == (std::vector<RtfRun>{run("Petr: ", 0x0000FF, false, false, false),
                                                  run("ahoj", 0, true, true, false)}));
    QVERIFY(saved[1].runs ==
            (std::vector<RtfRun>{run("jana@PC7: ", 0x000080, false, false, false),
                                 run("{hotovo} \\ díky", 0x008000, false, false, true)}));
    QVERIFY(saved[2].runs == (std::vector<RtfRun>{run("Petr: ", 0x0000FF, false, false, false),
                                                  run("Uživatel se odpojil - nelze komunikovat!",
                                                      0xFF0000, false, true, false)}));

    // The log's context menu saves the conversation as it is now.
    {
        std::lock_guard lock(LockOf(m_h->directory));
        m_h->directory.PeerAt(m_h->index).AppendIncoming("Petr", "dalsi");
    }
    answer = folder.filePath(QStringLiteral("menu.rtf"));
    const QPoint inLog(20, 20);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, inLog,
                                Log()->viewport()->mapToGlobal(inLog));
    QCoreApplication::sendEvent(Log()->viewport(), &menuEvent);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QVERIFY(menu != nullptr);
    QAction* save = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->text() == QStringLiteral("Uložit konverzaci…")) {
            save = action;
        }
    }
    QVERIFY(save != nullptr);
    QCOMPARE(save->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    save->trigger();
    menu->close();
    const std::vector<RtfParagraph> fromMenu = read(answer);
    QCOMPARE(fromMenu.size(), size_t{4});
    QVERIFY(fromMenu[3].runs == (std::vector<RtfRun>{run("Petr: ", 0x0000FF, false, false, false),
                                                     run("dalsi", 0, true, true, false)}));

    // A cancelled question writes nothing; a file that cannot be written is told.
    answer.clear();
    QTest::keyClick(Input(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 2);
    QVERIFY(m_h->presenter.messages.empty());
    answer = folder.filePath(QStringLiteral("chybí/petr.rtf"));
    QWidget* owner = nullptr;
    m_h->presenter.whileOpen = [&owner, this] { owner = m_h->presenter.messages.back().parent; };
    QTest::keyClick(Input(), Qt::Key_S, Qt::ControlModifier);
    m_h->presenter.whileOpen = nullptr;
    QCOMPARE(owner, static_cast<QWidget*>(m_h->window.get()));  // the box opens over the window
    QCOMPARE(parents.size(), 4);
    const std::vector<RecordingBoxes::Message> shown = m_h->presenter.messages;
    QCOMPARE(shown.size(), size_t{1});
    QCOMPARE(shown[0].caption, res::String(res::kStrAppTitle));
    QCOMPARE(shown[0].text, cp1250::FromUtf8("Konverzaci se nepodařilo uložit do souboru " +
                                             QDir::toNativeSeparators(answer).toStdString() + "."));
    QVERIFY(shown[0].icon == BoxIcon::Warning);
    m_boxesExpected = true;
}

void TestRichChatDialog::inputTakesAtMost503CodePageBytes() {
    QCOMPARE(kMaxDeliverableText, size_t{503});
    Input()->setText(QString(502, QLatin1Char('a')));
    Type(Input(), QStringLiteral("b"));
    QCOMPARE(Input()->text().size(), 503);
    QVERIFY(Hint()->text().isEmpty());
    Type(Input(), QStringLiteral("c"));
    QCOMPARE(Input()->text().size(), 503);
    QCOMPARE(Hint()->text(), platform::Cp1250Validator::LengthHint());

    // Two bytes each in UTF-8, one in code page 1250.
    Input()->setText(QString(502, QChar(u'ř')));
    Type(Input(), QStringLiteral("ž"));
    QCOMPARE(Input()->text(), QString(502, QChar(u'ř')) + QStringLiteral("ž"));
    Type(Input(), QStringLiteral("š"));
    QCOMPARE(Input()->text().size(), 503);

    // A paste that does not fit is refused whole.
    Input()->setText(QString(500, QLatin1Char('a')));
    Input()->insert(QStringLiteral("1234"));
    QCOMPARE(Input()->text(), QString(500, QLatin1Char('a')));
    Input()->insert(QStringLiteral("123"));
    QCOMPARE(Input()->text().size(), 503);

    QTest::keyClick(Input(), Qt::Key_Return);
    QCOMPARE(m_h->Arrived(m_h->unicast),
             (QStringList{QStringLiteral("typing"), QStringLiteral("text ") +
                                                        QString(500, QLatin1Char('a')) +
                                                        QStringLiteral("123")}));
}

void TestRichChatDialog::charactersOutsideTheCodePageAreRefusedWithAHint() {
    Type(Input(), QStringLiteral("ñ"));
    QVERIFY(Input()->text().isEmpty());
    QCOMPARE(Hint()->text(), platform::Cp1250Validator::CharacterHint());
    QCOMPARE(m_h->Arrived(m_h->unicast), QStringList{});

    Type(Input(), QStringLiteral("aΩb€"));
    QCOMPARE(Input()->text(), QStringLiteral("ab€"));
    Input()->insert(QStringLiteral("x😀"));
    QCOMPARE(Input()->text(), QStringLiteral("ab€"));
    QCOMPARE(Hint()->text(), platform::Cp1250Validator::CharacterHint());

    SendButton()->click();
    QCOMPARE(m_h->Arrived(m_h->unicast),
             (QStringList{QStringLiteral("typing"), QStringLiteral("text ab€")}));
    QCOMPARE(m_h->History(), (std::vector<HistoryEntry>{{Outgoing, "jana", "ab\x80"}}));
}

// The hint lasts its time while the user types on, so that it can be read;
// only an emptied input clears it sooner.
void TestRichChatDialog::refusedCharacterHintOutlastsTheNextKeysUntilItsTimeOrAnEmptyInput() {
    QTimer& timer = Hint()->Timer();
    Type(Input(), QStringLiteral("Ωmega"));
    QTRY_COMPARE(Input()->text(), QStringLiteral("mega"));
    QTRY_COMPARE(Hint()->text(), platform::Cp1250Validator::CharacterHint());
    QVERIFY(timer.isActive());
    QCOMPARE(timer.interval(), platform::InputHint::kMilliseconds);
    timer.stop();
    QVERIFY(QMetaObject::invokeMethod(&timer, "timeout"));
    QTRY_VERIFY(Hint()->text().isEmpty());

    Type(Input(), QStringLiteral("Ω!"));
    QTRY_COMPARE(Input()->text(), QStringLiteral("mega!"));
    QTRY_COMPARE(Hint()->text(), platform::Cp1250Validator::CharacterHint());
    Input()->selectAll();
    QTest::keyClick(Input(), Qt::Key_Backspace);
    QTRY_VERIFY(Hint()->text().isEmpty());
    QVERIFY(!timer.isActive());
}

void TestRichChatDialog::theFactoryMakesTheWindowsOfItsNetwork() {
    QueuePoster poster;
    RecordingSink sink;
    RecordingPlayer player;
    SoundEvents sounds{m_h->state, m_h->clock, player};
    InstantWait wait;
    FakeTree tree;
    RichChatFactory factory{m_h->state, m_h->presenter};

    QPointer<CMRichChatDialog> window;
    {
        PeerNetwork network{PeerNetwork::Services{.state = m_h->state,
                                                  .presenter = m_h->presenter,
                                                  .poster = poster,
                                                  .tree = tree,
                                                  .notifications = sink,
                                                  .sounds = sounds,
                                                  .conversations = factory,
                                                  .clock = m_h->clock,
                                                  .wait = wait}};
        PeerDirectory& directory = network.Directory();
        {
            std::lock_guard lock(LockOf(directory));
            directory.AddPeer(nullptr, "Eva", "Sklad", "10.0.0.5", Ready);
            directory.PeerAt(0).history.Append({Incoming, "Eva", "ahoj"});
        }
        network.OpenConversation(0);
        {
            std::lock_guard lock(LockOf(directory));
            window = dynamic_cast<CMRichChatDialog*>(directory.PeerAt(0).window);
            QVERIFY(!directory.PeerAt(0).windowHidden);
        }
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Eva"));
        QCOMPARE(window->findChild<QPlainTextEdit*>(QStringLiteral("log"))->toPlainText(),
                 QStringLiteral("Eva: ahoj"));

        window->close();
        {
            std::lock_guard lock(LockOf(directory));
            QVERIFY(directory.PeerAt(0).windowHidden);
            directory.PeerAt(0).status = Disconnected;
        }
        network.OpenConversation(0);
        {
            std::lock_guard lock(LockOf(directory));
            QCOMPARE(directory.PeerAt(0).window, window.data());
            QVERIFY(!directory.PeerAt(0).windowHidden);
            QCOMPARE(directory.PeerAt(0).history.size(), size_t{1});
        }
        QVERIFY(window->isVisible());
        QVERIFY(!window->findChild<QPushButton*>(QStringLiteral("sendButton"))->isEnabled());
    }
    // The network deletes its windows.
    QVERIFY(!window);
}

QTEST_MAIN(TestRichChatDialog)
#include "TestRichChatDialog.moc"
#include "support/DirectoryLock.h"
