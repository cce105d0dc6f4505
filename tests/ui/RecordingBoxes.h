// tests/ui/RecordingBoxes.h
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/base/Presenter.h"

// Records message boxes instead of showing them. whileOpen runs inside
// ShowMessage, as if the box's own event loop delivered something.
class RecordingBoxes final : public MessagePresenter {
public:
    struct Message {
        std::string caption;
        std::string text;
        BoxIcon icon;
    };
    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override {
        messages.push_back({caption, text, icon});
        if (whileOpen) {
            whileOpen();
        }
    }
    std::vector<Message> messages;
    std::function<void()> whileOpen;
};
