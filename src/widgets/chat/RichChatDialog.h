// src/widgets/chat/RichChatDialog.h
#pragma once

#include <QDialog>
#include <QString>
#include <QTextCharFormat>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/base/Presenter.h"
#include "core/net/PeerSocket.h"
#include "core/peers/ConversationWindow.h"
#include "core/peers/PeerDirectory.h"
#include "core/peers/PeerItems.h"
#include "core/settings/AppState.h"
#include "widgets/adapters/MessageBoxes.h"

class QAction;
class QCloseEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QPlainTextEdit;
class QPoint;
class QShowEvent;
namespace platform {
class InputHint;
}

// The conversation window of one peer: the formatted log of the peer's history,
// the input line, the recipient choice and the Send and Bell buttons. A
// top-level window of its own; closing it (or Esc) only hides it and marks the
// record's window hidden. As a MessagePresenter it shows the boxes of this
// window, over it. User-interface thread only.
class CMRichChatDialog final : public QDialog, public ConversationWindow, public MessagePresenter {
    Q_OBJECT
public:
    CMRichChatDialog(PeerDirectory& directory, const AppState& state, CPeerSocket& endpoint,
                     PeerItems& items, platform::MessageBoxes& boxes, int peerIndex);
    ~CMRichChatDialog() override;

    // ConversationWindow
    void SetCaption(const std::string& text) override;
    // Brings the log to the peer's history: the lines of entries that have
    // been removed go, the entries not shown yet are appended, and a first
    // line tells when older entries were removed; the whole log is drawn
    // again only when nothing drawn is left. Then shows the newest line.
    void RefreshLog() override;
    void ShowAndRaise() override;
    void SetSendingEnabled(bool enabled) override;

    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;

    // "Odeslat" and Enter in the input.
    void OnSend();
    // "Zvonek": always to this window's peer.
    void OnBell();

    // "Uložit konverzaci…" (log menu, Ctrl+S): the conversation as an RTF
    // document in a file the user chooses. A file that cannot be written is
    // told in a box.
    void SaveConversation();

    // Asks where to save the conversation, starting from a suggested path;
    // an empty path cancels. The default is the desktop's file dialog.
    using SavePathQuestion = std::function<QString(QWidget* parent, const QString& suggested)>;
    void SetSavePathQuestion(SavePathQuestion question);

    // Esc: hides the window like a close request.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // What of the peer's history the log shows, by the entries' serial numbers:
    // [first, end). An entry of an unknown kind has no line.
    struct DrawnLog {
        uint64_t first = 0;
        uint64_t end = 0;
        bool removedLine = false;        // the first line says older entries were removed
        std::vector<uint64_t> lineless;  // drawn entries without a line, ascending
    };

    // Character formats of one direction's lines: the sender's, and the
    // text's for each colour mark.
    struct LineFormats {
        QTextCharFormat sender;
        std::array<QTextCharFormat, 3> text;
    };

    void OnInputChange();
    // Adds one paragraph per entry at the end of the log, the first entry
    // having the given serial; the kinds of entries that have no line are
    // collected.
    void AppendToLog(const std::vector<HistoryEntry>& entries, uint64_t firstSerial,
                     std::vector<int32_t>& unknownKinds);
    // Removes the lines of drawn entries before the serial, and puts the line
    // about removed entries first when wanted.
    void RemoveLinesBefore(uint64_t serial, bool removedLine);
    void ShowLogMenu(const QPoint& position);
    void ScrollLogToEnd();
    void MarkHidden();
    int Recipient() const;
    std::string PeerAddress() const;

    CPeerSocket& m_endpoint;
    PeerItems& m_items;
    platform::MessageBoxes& m_boxes;
    bool m_typingSent = false;
    DrawnLog m_drawn;
    std::array<LineFormats, 2> m_formats;  // Incoming, Outgoing
    QTextCharFormat m_removedFormat;
    SavePathQuestion m_askSavePath;

    QComboBox* m_recipient = nullptr;
    QPlainTextEdit* m_log = nullptr;
    QLineEdit* m_input = nullptr;
    QPushButton* m_sendButton = nullptr;
    QPushButton* m_bellButton = nullptr;
    platform::InputHint* m_hint = nullptr;  // why the input refused a change
    QAction* m_saveAction = nullptr;
};

// Makes the conversation windows, with what the network hands over for each.
class RichChatFactory final : public ConversationFactory {
public:
    RichChatFactory(const AppState& state, platform::MessageBoxes& boxes)
        : m_state(state), m_boxes(boxes) {}

    std::unique_ptr<ConversationWindow> CreateConversation(const ConversationParts& parts,
                                                           int peerIndex) override;

private:
    const AppState& m_state;
    platform::MessageBoxes& m_boxes;
};
