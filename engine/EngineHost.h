#pragma once
// What the engine needs of the window it runs under. The desktop, the headless runner and
// the tests each supply their own; the engine never opens a window itself.

#include <string_view>

namespace tarvolen {

enum class MessageIcon { None, Error, Warning, Information };

class EngineHost {
  public:
    virtual ~EngineHost() = default;

    // Appends `text` and a line break at the end of the activity log. A text holding CR LF
    // shows as several lines. Text is 8-bit Windows-1252.
    virtual void appendLog(std::string_view text) = 0;
    // Lets pending window events through once, so the log repaints during long work.
    virtual void processEvents() = 0;
    // Shows a modal message box with one OK button and returns when it is closed.
    virtual void showMessage(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
};

}  // namespace tarvolen
