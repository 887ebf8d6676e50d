#pragma once
// What a part needs to work (its prompts, timers, identity, …) comes in one way, from
// its owner, which takes it from the platform record start-up chose. A part made
// without something it needs was wired wrongly: required() says what in the log and
// throws WiringMistake, so that the mistake shows where the part is made instead of as
// a part that quietly does nothing.

#include <memory>
#include <stdexcept>
#include <string>

namespace wl {

struct WiringMistake : std::logic_error {
    using std::logic_error::logic_error;
};

// Logs "Wickerlane: <what>" and throws WiringMistake(what).
[[noreturn]] void wiringMistake(const std::string& what);

// The object given, or a wiring mistake naming who lacked what.
template <class T>
T& required(T* given, const char* who, const char* what)
{
    if (!given)
        wiringMistake(std::string(who) + " was made without " + what);
    return *given;
}

template <class T>
const std::shared_ptr<T>& required(const std::shared_ptr<T>& given, const char* who, const char* what)
{
    if (!given)
        wiringMistake(std::string(who) + " was made without " + what);
    return given;
}

} // namespace wl
