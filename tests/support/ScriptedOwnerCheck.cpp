#include "ScriptedOwnerCheck.h"

#include <QCoreApplication>
#include <QTimer>

#include <utility>

namespace wl::test {

void ScriptedOwnerCheck::check(const std::string& reason, std::function<void(bool)> done)
{
    reasons_.push_back(reason);
    bool confirmed = false;
    if (!answers_.empty()) {
        confirmed = answers_.front();
        answers_.pop_front();
    }
    if (holdNext_) {
        holdNext_ = false;
        held_ = [done, confirmed] {
            if (done)
                done(confirmed);
        };
        return;
    }
    QTimer::singleShot(0, QCoreApplication::instance(), [done, confirmed] {
        if (done)
            done(confirmed);
    });
}

void ScriptedOwnerCheck::release()
{
    if (auto answer = std::exchange(held_, nullptr))
        answer();
}

} // namespace wl::test
