#pragma once
// Asks the user for one line of text in a modal alert with a confirming button and
// "Cancel".

#include <optional>
#include <string>

namespace wl {

class Prompts;

// The entered text trimmed of white space and new lines; nullopt when the user cancels
// or leaves it empty.
std::optional<std::string> askForText(const std::string& message, const std::string& informativeText,
                                      const std::string& initialText, const std::string& confirmTitle,
                                      Prompts& prompts);

} // namespace wl
