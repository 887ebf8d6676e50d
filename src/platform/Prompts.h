#pragma once
// Alerts, text prompts and open/save panels. Each call is modal and answers when
// the user has chosen. Start-up chooses the desktop backend (Qt dialogs, raised and
// activated); tests hand in ScriptedPrompts (tests/support). There is no stand-in: a
// part that asks takes the prompts as a required reference.

#include <memory>
#include <optional>
#include <string>
#include <utility>
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
    std::string checkbox; // the title of a checkbox below the text; "" for none
    bool checkboxInitial = false;
};

struct AlertAnswer {
    int button = -1; // as alert() answers
    bool checked = false; // the checkbox's state when the alert closed
};

// Two secure fields (a new PIN and the same again).
struct TwoSecretsRequest {
    std::string title;
    std::string informativeText;
    std::string firstPlaceholder;
    std::string secondPlaceholder;
    std::string confirmTitle = "OK";
    std::string cancelTitle = "Cancel";
    bool floating = false;
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
    // The same, with the checkbox the request names.
    virtual AlertAnswer alertWithCheckbox(const AlertRequest& request) = 0;
    // Both texts as typed (untrimmed); nullopt on cancel.
    virtual std::optional<std::pair<std::string, std::string>> askForTwoSecrets(const TwoSecretsRequest& request) = 0;
    // The typed text, trimmed of surrounding white space; nullopt on cancel.
    virtual std::optional<std::string> askForText(const TextRequest& request) = 0;
    // Chosen paths; empty on cancel.
    virtual std::vector<std::string> openPanel(const OpenPanelRequest& request) = 0;
    // The chosen path; nullopt on cancel.
    virtual std::optional<std::string> savePanel(const SavePanelRequest& request) = 0;
};

// Trims ASCII and Unicode-agnostic white space (space, tab, CR, LF, FF, VT) at both ends.
std::string trimmedText(const std::string& text);

} // namespace wl
