// src/widgets/chat/RichChatDialog.cpp
#include "widgets/chat/RichChatDialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QShowEvent>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <iterator>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "core/chat/ChatLogDocument.h"
#include "core/net/Packet.h"
#include "core/res/Cp1250.h"
#include "core/res/Strings.h"
#include "widgets/adapters/Cp1250Input.h"
#include "widgets/adapters/TextCodec.h"

namespace {

const QColor kLogBackground(240, 240, 240);
// The colours of the log's lines, as in the colour table of its RTF document.
const QColor kIncomingSender(0, 0, 255);
const QColor kOutgoingSender(0, 0, 128);
const QColor kRedMark(255, 0, 0);
const QColor kGreenMark(0, 128, 0);

// Code page 1250 bytes as the log shows them. As in the RTF document, a raw
// line break is no paragraph mark and shows nothing, nor does a zero byte.
void AppendLogText(QString& out, std::string_view bytes) {
    out.reserve(out.size() + static_cast<qsizetype>(bytes.size()));
    for (const char byte : bytes) {
        if (byte != '\r' && byte != '\n' && byte != '\0') {
            out.append(QChar(cp1250::Decode(byte)));
        }
    }
}

// Where the save dialog starts: the documents folder and a file named after
// the peer, without the characters that file names cannot hold.
QString SuggestedSavePath(const std::string& peerName) {
    QString name = platform::FromCp1250(peerName);
    for (QChar& c : name) {
        if (c.unicode() < 0x20 || QStringView(u"/\\:*?\"<>|").contains(c)) {
            c = QLatin1Char('_');
        }
    }
    name = name.trimmed();
    if (name.isEmpty()) {
        name = QStringLiteral("konverzace");
    }
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty()) {
        folder = QDir::homePath();
    }
    return QDir(folder).filePath(name + QStringLiteral(".rtf"));
}

QString AskSavePath(QWidget* parent, const QString& suggested) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Uložit konverzaci"), suggested,
                                        QStringLiteral("Dokument RTF (*.rtf)"));
}

QTextCharFormat LogFormat(const QColor& colour, bool bold, bool italic) {
    QTextCharFormat format;
    format.setForeground(colour);
    format.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(italic);
    return format;
}

}  // namespace

CMRichChatDialog::CMRichChatDialog(PeerDirectory& directory, const AppState& state,
                                   CPeerSocket& endpoint, PeerItems& items,
                                   platform::MessageBoxes& boxes, int peerIndex)
    : QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      ConversationWindow(directory, state, peerIndex),
      m_endpoint(endpoint),
      m_items(items),
      m_boxes(boxes),
      m_askSavePath(AskSavePath) {
    setObjectName(QStringLiteral("conversation"));
    setModal(false);
    setSizeGripEnabled(false);

    auto* recipientLabel = new QLabel(QStringLiteral("Poslat :"), this);
    m_recipient = new QComboBox(this);
    m_recipient->setObjectName(QStringLiteral("recipient"));
    m_recipient->setEditable(false);
    m_recipient->addItem(QStringLiteral("Uživateli"));
    m_recipient->addItem(QStringLiteral("Všem"));
    m_recipient->setAccessibleName(QStringLiteral("Poslat"));
    recipientLabel->setBuddy(m_recipient);

    m_hint = new platform::InputHint(this);
    m_hint->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // A plain-text edit lays out only the lines on the screen, so a long log
    // is rebuilt in time; its character formats carry the colours and styles.
    m_log = new QPlainTextEdit(this);
    m_log->setObjectName(QStringLiteral("log"));
    m_log->setAccessibleName(QStringLiteral("Rozhovor"));
    m_log->setReadOnly(true);
    m_log->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_log->setFocusPolicy(Qt::StrongFocus);
    m_log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_log->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_log->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_log->setUndoRedoEnabled(false);
    QPalette logPalette = m_log->palette();
    logPalette.setColor(QPalette::Base, kLogBackground);
    logPalette.setColor(QPalette::Text, Qt::black);
    m_log->setPalette(logPalette);
    m_log->setFont(QFont(QStringLiteral("Arial"), 10));
    const QColor automatic = logPalette.color(QPalette::Text);
    for (const bool incoming : {true, false}) {
        LineFormats& formats = m_formats[incoming ? 0 : 1];
        formats.sender = LogFormat(incoming ? kIncomingSender : kOutgoingSender, false, false);
        formats.text[static_cast<size_t>(LogMark::None)] =
            LogFormat(automatic, incoming, !incoming);
        formats.text[static_cast<size_t>(LogMark::Red)] = LogFormat(kRedMark, incoming, !incoming);
        formats.text[static_cast<size_t>(LogMark::Green)] =
            LogFormat(kGreenMark, incoming, !incoming);
    }
    m_removedFormat = LogFormat(kRedMark, false, false);

    m_saveAction = new QAction(QStringLiteral("Uložit konverzaci…"), this);
    m_saveAction->setObjectName(QStringLiteral("saveConversation"));
    m_saveAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(m_saveAction, &QAction::triggered, this, [this] { SaveConversation(); });
    addAction(m_saveAction);
    m_log->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_log, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { ShowLogMenu(position); });

    m_input = new QLineEdit(this);
    m_input->setObjectName(QStringLiteral("input"));
    m_input->setAccessibleName(QStringLiteral("Zpráva"));
    // Only a text that one message carries whole.
    m_hint->Watch(m_input, kMaxDeliverableText);
    connect(m_input, &QLineEdit::textEdited, this, [this] { OnInputChange(); });

    m_sendButton = new QPushButton(QStringLiteral("Odeslat"), this);
    m_sendButton->setObjectName(QStringLiteral("sendButton"));
    m_sendButton->setAccessibleName(QStringLiteral("Odeslat"));
    m_sendButton->setDefault(true);
    connect(m_sendButton, &QPushButton::clicked, this, [this] { OnSend(); });

    m_bellButton = new QPushButton(QStringLiteral("Zvonek"), this);
    m_bellButton->setObjectName(QStringLiteral("bellButton"));
    m_bellButton->setAccessibleName(QStringLiteral("Zvonek"));
    connect(m_bellButton, &QPushButton::clicked, this, [this] { OnBell(); });

    auto* top = new QHBoxLayout;
    top->addWidget(recipientLabel);
    top->addWidget(m_recipient);
    top->addWidget(m_hint, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_sendButton, 1);
    buttons->addWidget(m_bellButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_log, 1);
    layout->addWidget(m_input);
    layout->addLayout(buttons);

    setTabOrder(m_log, m_input);
    setTabOrder(m_input, m_sendButton);
    setTabOrder(m_sendButton, m_bellButton);
    setTabOrder(m_bellButton, m_recipient);

    resize(365, 300);
    layout->activate();  // the log has its width before the first refresh

    m_directory.Modify(m_peerIndex, [](PeerRecord& record) { record.windowHidden = false; });
    m_recipient->setCurrentIndex(0);
    RefreshLog();
    m_input->setFocus();
}

CMRichChatDialog::~CMRichChatDialog() = default;

void CMRichChatDialog::SetCaption(const std::string& text) {
    setWindowTitle(platform::FromCp1250(text));
}

void CMRichChatDialog::RefreshLog() {
    HistorySlice slice = m_directory.HistoryFrom(m_peerIndex, m_drawn.end);
    // Nothing drawn is left, or the history is not the one drawn.
    const bool redraw = slice.from != m_drawn.end;
    const uint64_t first = slice.first;
    const uint64_t from = slice.from;
    const bool olderRemoved = slice.olderRemoved;
    const std::vector<HistoryEntry> entries = std::move(slice.entries);
    m_drawn.end = slice.end;

    if (redraw) {
        QTextCursor cursor(m_log->document());
        cursor.beginEditBlock();
        cursor.select(QTextCursor::Document);
        cursor.removeSelectedText();
        cursor.setBlockFormat(QTextBlockFormat());
        cursor.setCharFormat(QTextCharFormat());
        cursor.endEditBlock();
        m_drawn.first = first;
        m_drawn.removedLine = false;
        m_drawn.lineless.clear();
    }
    RemoveLinesBefore(std::max(first, m_drawn.first), olderRemoved);
    std::vector<int32_t> unknownKinds;
    AppendToLog(entries, from, unknownKinds);
    ScrollLogToEnd();
    m_sendButton->setDefault(true);

    // The boxes come last: while one is open, the log may be refreshed again.
    for (const int32_t kind : unknownKinds) {
        ShowTraceCode(*this, "RichD 1, val %i", kind);
    }
}

void CMRichChatDialog::RemoveLinesBefore(uint64_t serial, bool removedLine) {
    QTextDocument* log = m_log->document();
    // The lines of the entries that are gone: one each, but for those without one.
    const auto kept = std::lower_bound(m_drawn.lineless.begin(), m_drawn.lineless.end(), serial);
    const int gone = static_cast<int>(serial - m_drawn.first) -
                     static_cast<int>(kept - m_drawn.lineless.begin());
    m_drawn.lineless.erase(m_drawn.lineless.begin(), kept);
    m_drawn.first = serial;
    const bool addLine = removedLine && !m_drawn.removedLine;
    if (gone <= 0 && !addLine) {
        return;
    }

    QString line;
    AppendLogText(line, res::String(res::kStrOlderMessagesRemoved));
    QTextCursor cursor(log);
    cursor.beginEditBlock();
    int from = m_drawn.removedLine ? 1 : 0;
    int remove = gone;
    if (addLine && gone > 0 && log->findBlockByNumber(gone).isValid()) {
        // The first line that goes says so instead; the lines kept stay as
        // they are.
        const QTextBlock first = log->firstBlock();
        cursor.setPosition(first.position());
        cursor.setPosition(first.position() + first.length() - 1, QTextCursor::KeepAnchor);
        cursor.insertText(line, m_removedFormat);
        m_drawn.removedLine = true;
        from = 1;
        remove = gone - 1;
    }
    if (remove > 0) {
        const QTextBlock end = log->findBlockByNumber(from + remove);
        if (end.isValid()) {
            cursor.setPosition(log->findBlockByNumber(from).position());
            cursor.setPosition(end.position(), QTextCursor::KeepAnchor);
        } else if (from > 0) {
            // Every entry's line goes: the line about removed entries stays.
            const QTextBlock first = log->firstBlock();
            cursor.setPosition(first.position() + first.length() - 1);
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        } else {
            cursor.select(QTextCursor::Document);
        }
        cursor.removeSelectedText();
    }
    if (removedLine && !m_drawn.removedLine) {
        cursor.setPosition(0);
        const bool empty = log->isEmpty();
        cursor.insertText(line, m_removedFormat);
        if (!empty) {
            cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        }
        m_drawn.removedLine = true;
    }
    cursor.endEditBlock();
}

void CMRichChatDialog::AppendToLog(const std::vector<HistoryEntry>& entries, uint64_t firstSerial,
                                   std::vector<int32_t>& unknownKinds) {
    if (entries.empty()) {
        return;
    }
    QString computerName;
    AppendLogText(computerName, m_state.ComputerName());

    QTextDocument* log = m_log->document();
    bool empty = log->isEmpty();  // every line has at least ": "
    QTextCursor cursor(log);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    QString text;
    uint64_t serial = firstSerial;
    for (const HistoryEntry& entry : entries) {
        const uint64_t entrySerial = serial++;
        if (entry.kind != Incoming && entry.kind != Outgoing) {
            unknownKinds.push_back(entry.kind);
            m_drawn.lineless.push_back(entrySerial);
            continue;
        }
        const bool incoming = entry.kind == Incoming;
        const LineFormats& formats = m_formats[incoming ? 0 : 1];
        if (!empty) {
            cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        }
        empty = false;

        text.clear();
        AppendLogText(text, entry.sender);
        if (!incoming) {
            text.append(QLatin1Char('@'));
            text.append(computerName);
        }
        text.append(QLatin1String(": "));
        cursor.insertText(text, formats.sender);

        const MarkedText marked = SplitLogMark(entry.text);
        text.clear();
        AppendLogText(text, marked.shown);
        cursor.insertText(text, formats.text[static_cast<size_t>(marked.mark)]);
    }
    cursor.endEditBlock();
}

void CMRichChatDialog::ShowLogMenu(const QPoint& position) {
    QMenu* menu = m_log->createStandardContextMenu(position);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addSeparator();
    menu->addAction(m_saveAction);
    menu->popup(m_log->viewport()->mapToGlobal(position));
}

void CMRichChatDialog::SetSavePathQuestion(SavePathQuestion question) {
    m_askSavePath = std::move(question);
}

void CMRichChatDialog::SaveConversation() {
    const std::string peerName = m_directory.Facts(m_peerIndex).name;
    const QString path = m_askSavePath(this, SuggestedSavePath(peerName));
    if (path.isEmpty()) {
        return;
    }
    // What has arrived while the question was open is saved too.
    const HistorySlice history = m_directory.HistoryFrom(m_peerIndex, 0);
    const std::string document =
        BuildChatLogDocument(history.entries, m_state.ComputerName(), *this, history.olderRemoved);
    QSaveFile file(path);
    const auto size = static_cast<qint64>(document.size());
    if (file.open(QIODevice::WriteOnly) && file.write(document.data(), size) == size &&
        file.commit()) {
        return;
    }
    const QString text = QStringLiteral("Konverzaci se nepodařilo uložit do souboru %1.")
                             .arg(QDir::toNativeSeparators(path));
    ShowMessage(res::String(res::kStrAppTitle), platform::ToCp1250(text), BoxIcon::Warning);
}

void CMRichChatDialog::ShowMessage(const std::string& caption, const std::string& text,
                                   BoxIcon icon) {
    m_boxes.Show(this, caption, text, icon);
}

void CMRichChatDialog::ScrollLogToEnd() {
    QScrollBar* bar = m_log->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void CMRichChatDialog::ShowAndRaise() {
    show();
    raise();
    activateWindow();
}

void CMRichChatDialog::SetSendingEnabled(bool enabled) {
    m_sendButton->setEnabled(enabled);
    m_bellButton->setEnabled(enabled);
}

int CMRichChatDialog::Recipient() const {
    const int index = m_recipient->currentIndex();
    return index < 0 ? 0 : index;
}

std::string CMRichChatDialog::PeerAddress() const {
    return m_directory.Facts(m_peerIndex).address;
}

void CMRichChatDialog::OnSend() {
    const QString typed = m_input->text();
    if (typed.isEmpty()) {
        m_input->setFocus();
        return;
    }
    m_input->clear();  // textEdited is not emitted: no typing notice
    const std::string text = platform::ToCp1250(typed);
    const std::string userName = m_state.Read([](const SettingsRecord& s) { return s.userName; });
    m_directory.Modify(m_peerIndex,
                       [&](PeerRecord& record) { record.AppendOutgoing(userName, text); });
    switch (const int recipient = Recipient()) {
        case 0:
            m_endpoint.SendText(text, PeerAddress());
            break;
        case 1:
            m_endpoint.SendText(text, std::string());
            break;
        default:
            ShowTraceCode(*this, "RichD 0, val %i", recipient);
            break;
    }
    RefreshLog();
    m_items.RefreshPeerItem(m_peerIndex);
    m_typingSent = false;
    m_input->setFocus();
}

void CMRichChatDialog::OnBell() {
    m_endpoint.SendBell(PeerAddress());
}

void CMRichChatDialog::OnInputChange() {
    if (m_typingSent) {
        return;
    }
    switch (const int recipient = Recipient()) {
        case 0:
            m_endpoint.SendTyping(PeerAddress());
            break;
        case 1:
            m_endpoint.SendTyping(std::string());
            break;
        default:
            ShowTraceCode(*this, "RichD 2, val %i", recipient);
            break;
    }
    m_typingSent = true;
}

void CMRichChatDialog::MarkHidden() {
    m_directory.Modify(m_peerIndex, [](PeerRecord& record) { record.windowHidden = true; });
}

void CMRichChatDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The log has its final width only now.
    ScrollLogToEnd();
}

void CMRichChatDialog::closeEvent(QCloseEvent* event) {
    MarkHidden();
    QDialog::closeEvent(event);
}

void CMRichChatDialog::reject() {
    MarkHidden();
    QDialog::reject();
}

std::unique_ptr<ConversationWindow> RichChatFactory::CreateConversation(
    const ConversationParts& parts, int peerIndex) {
    return std::make_unique<CMRichChatDialog>(parts.directory, m_state, parts.endpoint, parts.items,
                                              m_boxes, peerIndex);
}
