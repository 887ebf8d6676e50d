#include "platform/Prompts.h"

#include "platform/linux/QtPrompts.h"

#include <mutex>

namespace wl {

namespace {
std::mutex standardLock;
std::shared_ptr<Prompts>& standardSlot()
{
    static std::shared_ptr<Prompts> slot = std::make_shared<QtPrompts>();
    return slot;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
} // namespace

Prompts& Prompts::standard()
{
    std::lock_guard guard(standardLock);
    return *standardSlot();
}

void Prompts::setStandard(std::shared_ptr<Prompts> prompts)
{
    std::lock_guard guard(standardLock);
    standardSlot() = prompts ? std::move(prompts) : std::make_shared<QtPrompts>();
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
