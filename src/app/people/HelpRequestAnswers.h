#pragma once
// What the people list needs of the helper's handling of help requests: the replies
// sent to a request, the pictures fetched for it, and the operations that answer it.
// The viewer controller provides these; the list sees only this much of them.

#include "mail/StoredMessage.h"
#include "mail/TransferredFile.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace wl {

class HelpRequestAnswers {
public:
    virtual ~HelpRequestAnswers() = default;

    // The pictures fetched so far, by request id.
    virtual const std::map<std::string, std::vector<TransferredFile>>& pictures() const = 0;
    // The requests whose pictures the helper waits for.
    virtual const std::set<std::string>& fetchingPictures() const = 0;
    // The request whose pictures are on screen.
    virtual const std::optional<StoredMessage>& picturesShown() const = 0;
    virtual void setPicturesShown(std::optional<StoredMessage> request) = 0;

    // The replies this Mac sent to the request, in history order.
    virtual std::vector<StoredMessage> sentReplies(const StoredMessage& request) const = 0;
    virtual void sendReply(const StoredMessage& request, const std::string& text) = 0;
    virtual void markRequestDone(const StoredMessage& request) = 0;
    virtual void sendPassword(const StoredMessage& request) = 0;
    virtual void composeReply(const StoredMessage& message) = 0;
    virtual void showPictures(const StoredMessage& request) = 0;

    // Told when the pictures, their fetching or their showing change outside the
    // viewer controller's own notices.
    std::function<void()> onChange;
};

} // namespace wl
