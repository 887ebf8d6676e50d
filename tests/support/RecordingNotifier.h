#pragma once
// A notifier that records what would have been shown.
#include "platform/Notifier.h"

#include <string>
#include <vector>

namespace wl::test {

class RecordingNotifier final : public Notifier {
public:
    struct Posted {
        std::string title, body, identifier;
    };
    void prepare() override { ++prepared; }
    void post(const std::string& title, const std::string& body, const std::string& identifier) override
    {
        posted.push_back({title, body, identifier});
    }
    int prepared = 0;
    std::vector<Posted> posted;
};

} // namespace wl::test
