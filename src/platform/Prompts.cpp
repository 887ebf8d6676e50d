#include "platform/Prompts.h"

#include "platform/Log.h"

#include <atomic>
#include <mutex>

namespace wl {

namespace {

// The safe stand-in: it cannot ask, so every question is dismissed, and the first one
// says so in the log.
class NoPrompts final : public Prompts {
public:
    int alert(const AlertRequest& request) override
    {
        cannotAsk(request.title);
        return -1;
    }
    AlertAnswer alertWithCheckbox(const AlertRequest& request) override
    {
        cannotAsk(request.title);
        return {-1, request.checkboxInitial};
    }
    std::optional<std::pair<std::string, std::string>> askForTwoSecrets(const TwoSecretsRequest& request) override
    {
        cannotAsk(request.title);
        return std::nullopt;
    }
    std::optional<std::string> askForText(const TextRequest& request) override
    {
        cannotAsk(request.title);
        return std::nullopt;
    }
    std::vector<std::string> openPanel(const OpenPanelRequest& request) override
    {
        cannotAsk(request.title);
        return {};
    }
    std::optional<std::string> savePanel(const SavePanelRequest& request) override
    {
        cannotAsk(request.title);
        return std::nullopt;
    }

private:
    void cannotAsk(const std::string& title)
    {
        if (!told_.exchange(true))
            Log::line("Wickerlane: can't ask \"" + title + "\": no prompts are available");
    }
    std::atomic<bool> told_{false};
};

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
} // namespace

std::shared_ptr<Prompts> Prompts::none()
{
    return std::make_shared<NoPrompts>();
}

Prompts& promptsOr(Prompts* given, std::shared_ptr<Prompts>& standIn)
{
    if (given)
        return *given;
    if (!standIn)
        standIn = Prompts::none();
    return *standIn;
}

std::string trimmedText(const std::string& text)
{
    std::size_t begin = 0, end = text.size();
    while (begin < end && isSpace(text[begin]))
        ++begin;
    while (end > begin && isSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

} // namespace wl
