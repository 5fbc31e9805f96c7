// A message box seam that records every box and answers OK.
#pragma once

#include "base/MessageBox.h"

#include <string>
#include <vector>

struct ShownBox {
    std::string text, title;
    MessageIcon icon;
    MessageButtons buttons;
};

struct RecordingBoxes : MessageBoxes {
    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                       MessageButtons buttons) override {
        shown.push_back({text, title, icon, buttons});
        return MessageAnswer::Ok;
    }
    std::vector<ShownBox> shown;
};
