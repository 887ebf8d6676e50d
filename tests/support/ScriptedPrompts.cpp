#include "ScriptedPrompts.h"

namespace wl::test {

void ScriptedPrompts::answerAlert(int buttonIndex, bool checked)
{
    std::lock_guard guard(lock_);
    alerts_.push_back({buttonIndex, checked});
}

void ScriptedPrompts::answerSecrets(std::optional<std::pair<std::string, std::string>> secrets)
{
    std::lock_guard guard(lock_);
    secrets_.push_back(std::move(secrets));
}

bool ScriptedPrompts::alertOpen() const
{
    std::lock_guard guard(lock_);
    return open_;
}

void ScriptedPrompts::answerText(std::optional<std::string> text)
{
    std::lock_guard guard(lock_);
    texts_.push_back(std::move(text));
}

void ScriptedPrompts::answerOpen(std::vector<std::string> paths)
{
    std::lock_guard guard(lock_);
    opens_.push_back(std::move(paths));
}

void ScriptedPrompts::answerSave(std::optional<std::string> path)
{
    std::lock_guard guard(lock_);
    saves_.push_back(std::move(path));
}

std::vector<ScriptedPrompts::Question> ScriptedPrompts::questions() const
{
    std::lock_guard guard(lock_);
    return questions_;
}

std::size_t ScriptedPrompts::count() const
{
    std::lock_guard guard(lock_);
    return questions_.size();
}

void ScriptedPrompts::clear()
{
    std::lock_guard guard(lock_);
    questions_.clear();
    alerts_.clear();
    secrets_.clear();
    texts_.clear();
    opens_.clear();
    saves_.clear();
}

int ScriptedPrompts::alert(const AlertRequest& request)
{
    return alertWithCheckbox(request).button;
}

AlertAnswer ScriptedPrompts::alertWithCheckbox(const AlertRequest& request)
{
    std::unique_lock guard(lock_);
    Question question{Question::Kind::alert,
                      request.title,
                      request.informativeText,
                      request.buttons.empty() ? std::vector<std::string>{"OK"} : request.buttons,
                      {},
                      request.checkbox,
                      request.floating,
                      {}};
    questions_.push_back(question);
    if (!alerts_.empty()) {
        AlertAnswer answer = alerts_.front();
        alerts_.pop_front();
        return answer;
    }
    auto answerer = onAlert;
    if (!answerer)
        return {-1, request.checkboxInitial};
    open_ = true;
    guard.unlock();
    auto answer = answerer(question);
    guard.lock();
    open_ = false;
    return answer.value_or(AlertAnswer{-1, request.checkboxInitial});
}

std::optional<std::pair<std::string, std::string>> ScriptedPrompts::askForTwoSecrets(const TwoSecretsRequest& request)
{
    std::lock_guard guard(lock_);
    questions_.push_back({Question::Kind::secrets,
                          request.title,
                          request.informativeText,
                          {request.confirmTitle, request.cancelTitle},
                          {},
                          {},
                          request.floating,
                          {request.firstPlaceholder, request.secondPlaceholder}});
    if (secrets_.empty())
        return std::nullopt;
    auto answer = secrets_.front();
    secrets_.pop_front();
    return answer;
}

std::optional<std::string> ScriptedPrompts::askForText(const TextRequest& request)
{
    std::lock_guard guard(lock_);
    questions_.push_back(
        {Question::Kind::text, request.title, request.informativeText, {request.confirmTitle}, request.initialText});
    if (texts_.empty())
        return std::nullopt;
    auto answer = texts_.front();
    texts_.pop_front();
    if (answer)
        return trimmedText(*answer);
    return std::nullopt;
}

std::vector<std::string> ScriptedPrompts::openPanel(const OpenPanelRequest& request)
{
    std::lock_guard guard(lock_);
    questions_.push_back({Question::Kind::open, request.title, {}, {}, {}});
    if (opens_.empty())
        return {};
    auto answer = opens_.front();
    opens_.pop_front();
    return answer;
}

std::optional<std::string> ScriptedPrompts::savePanel(const SavePanelRequest& request)
{
    std::lock_guard guard(lock_);
    questions_.push_back({Question::Kind::save, request.title, {}, {}, request.suggestedName});
    if (saves_.empty())
        return std::nullopt;
    auto answer = saves_.front();
    saves_.pop_front();
    return answer;
}

} // namespace wl::test
