#pragma once
// Prompts for tests: records every question and answers from a script. Without a
// scripted answer an alert answers -1 (dismissed), a text prompt and panels cancel.
//
// An alert without a scripted answer may be answered by onAlert instead, which runs
// while the alert is "open": it may run the event loop (waitUntil) to let things happen
// meanwhile, as they would behind a modal alert, and then answer.
#include "platform/Prompts.h"

#include <deque>
#include <functional>
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
    // Answers alerts that have no scripted answer (nullopt: dismissed).
    std::function<std::optional<AlertAnswer>(const Question&)> onAlert;
    // Whether an alert is open (inside onAlert).
    bool alertOpen() const;
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
    bool open_ = false;
    std::deque<std::optional<std::string>> texts_;
    std::deque<std::vector<std::string>> opens_;
    std::deque<std::optional<std::string>> saves_;
};

} // namespace wl::test
