#include "mail/AskForText.h"

#include "platform/Prompts.h"

namespace wl {

std::optional<std::string> askForText(const std::string& message, const std::string& informativeText,
                                      const std::string& initialText, const std::string& confirmTitle, Prompts& prompts)
{
    TextRequest request;
    request.title = message;
    request.informativeText = informativeText;
    request.initialText = initialText;
    request.confirmTitle = confirmTitle;
    request.cancelTitle = "Cancel";
    auto answer = prompts.askForText(request);
    if (!answer)
        return std::nullopt;
    auto text = trimmedText(*answer);
    if (text.empty())
        return std::nullopt;
    return text;
}

} // namespace wl
