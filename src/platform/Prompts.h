#pragma once
// Alerts, text prompts and open/save panels. Each call is modal and answers when
// the user has chosen. The desktop backend (platform/linux/QtPrompts.h) shows Qt
// dialogs, raised and activated; tests install ScriptedPrompts (tests/support).

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wl {

struct AlertRequest {
    enum class Style { informational, warning, critical };
    std::string title;
    std::string informativeText;
    // Button titles, first = the default button. Empty → a single "OK".
    std::vector<std::string> buttons;
    Style style = Style::informational;
    bool floating = false; // stays on top of other windows
};

struct TextRequest {
    std::string title;
    std::string informativeText;
    std::string initialText;
    std::string confirmTitle = "OK"; // the title of the confirming button
    std::string cancelTitle = "Cancel";
    bool secure = false; // hide the typed characters (PINs, passwords)
    bool floating = false;
};

struct OpenPanelRequest {
    std::string title;
    std::string directory; // start folder; "" = the user's choice last time / home
    std::vector<std::string> nameFilters; // e.g. "Images (*.png *.jpg)"; empty = all files
    bool multiple = false;
    bool directories = false; // choose folders instead of files
};

struct SavePanelRequest {
    std::string title;
    std::string directory;
    std::string suggestedName;
    std::vector<std::string> nameFilters;
};

class Prompts {
public:
    virtual ~Prompts() = default;

    // The index of the chosen button; -1 when the alert could not be shown or was dismissed.
    virtual int alert(const AlertRequest& request) = 0;
    // The typed text, trimmed of surrounding white space; nullopt on cancel.
    virtual std::optional<std::string> askForText(const TextRequest& request) = 0;
    // Chosen paths; empty on cancel.
    virtual std::vector<std::string> openPanel(const OpenPanelRequest& request) = 0;
    // The chosen path; nullopt on cancel.
    virtual std::optional<std::string> savePanel(const SavePanelRequest& request) = 0;

    // The process-wide prompts: the Qt backend unless one was installed.
    static Prompts& standard();
    static void setStandard(std::shared_ptr<Prompts> prompts);
};

// Trims ASCII and Unicode-agnostic white space (space, tab, CR, LF, FF, VT) at both ends.
std::string trimmedText(const std::string& text);

} // namespace wl
