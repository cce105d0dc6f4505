// tests/ui/RecordingBoxes.h
#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "core/base/Presenter.h"
#include "widgets/adapters/MessageBoxes.h"

// Records message boxes instead of showing them, each with the window it
// would open over. whileOpen runs inside the box, as if the box's own event
// loop delivered something. As a MessagePresenter it takes the boxes of core
// parts that a test wires without a window (over none).
class RecordingBoxes final : public platform::MessageBoxes, public MessagePresenter {
public:
    struct Message {
        std::string caption;
        std::string text;
        BoxIcon icon;
        QWidget* parent;
    };
    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override {
        Show(nullptr, caption, text, icon);
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Message& message : messages) {
            texts.push_back(message.text);
        }
        return texts;
    }
    std::vector<Message> messages;
    std::function<void()> whileOpen;

protected:
    void Open(QWidget* parent, const std::string& caption, const std::string& text,
              BoxIcon icon) override {
        messages.push_back({caption, text, icon, parent});
        if (whileOpen) {
            whileOpen();
        }
    }
};
