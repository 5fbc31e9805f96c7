// The message box seam: logic asks, each front end answers.
#pragma once

#include <string>

enum class MessageIcon { None, Exclamation, Critical, Information, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // Shows text (lines separated by CR LF) and waits for the answer.
    virtual MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                               MessageButtons buttons = MessageButtons::Ok) = 0;
    // Shows a message that needs no answer. A front end whose boxes wait
    // may show it without waiting, so that timers go on behind it.
    virtual void notify(const std::string& text, const std::string& title, MessageIcon icon) {
        show(text, title, icon, MessageButtons::Ok);
    }
};
