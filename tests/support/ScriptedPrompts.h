#pragma once
// Prompts for tests: records every question and answers from a script. Without a
// scripted answer an alert answers -1 (dismissed), a text prompt and panels cancel.
//
// Alerts can be held open: while holding, an alert without a scripted answer keeps the
// Qt event loop running (as a modal alert does) until the test answers it with
// answerHeld(), or 30 seconds pass (then it is dismissed).
#include "platform/Prompts.h"

#include <deque>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

namespace wl::test {

class ScriptedPrompts final : public Prompts {
public:
    struct Question {
        enum class Kind { alert, text, open, save, secrets } kind;
        std::string title;
        std::string informativeText;
        std::vector<std::string> buttons; // alerts
        std::string initialText; // text prompts
        std::string checkbox; // alerts with a checkbox
        bool floating = false;
        std::vector<std::string> placeholders; // two-secret prompts
    };

    // Answers are taken in order, each by the next question of its kind.
    void answerAlert(int buttonIndex, bool checked = false);
    void answerSecrets(std::optional<std::pair<std::string, std::string>> secrets);
    // Alerts without a scripted answer wait for answerHeld().
    void holdAlerts(bool hold);
    // Whether an alert is open and waiting.
    bool alertWaiting() const;
    void answerHeld(int buttonIndex, bool checked = false);
    void answerText(std::optional<std::string> text); // returned as given, then trimmed
    void answerOpen(std::vector<std::string> paths);
    void answerSave(std::optional<std::string> path);

    std::vector<Question> questions() const;
    std::size_t count() const;
    void clear();

    int alert(const AlertRequest& request) override;
    AlertAnswer alertWithCheckbox(const AlertRequest& request) override;
    std::optional<std::pair<std::string, std::string>> askForTwoSecrets(const TwoSecretsRequest& request) override;
    std::optional<std::string> askForText(const TextRequest& request) override;
    std::vector<std::string> openPanel(const OpenPanelRequest& request) override;
    std::optional<std::string> savePanel(const SavePanelRequest& request) override;

private:
    mutable std::mutex lock_;
    std::vector<Question> questions_;
    std::deque<AlertAnswer> alerts_;
    std::deque<std::optional<std::pair<std::string, std::string>>> secrets_;
    bool hold_ = false;
    bool waiting_ = false;
    std::optional<AlertAnswer> held_;
    std::deque<std::optional<std::string>> texts_;
    std::deque<std::vector<std::string>> opens_;
    std::deque<std::optional<std::string>> saves_;
};

} // namespace wl::test
