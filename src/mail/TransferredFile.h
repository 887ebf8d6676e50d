#pragma once
// A file moved over a file link: a picture of a help request or any other small file.

#include <string>

namespace wl {

struct TransferredFile {
    std::string id; // identifies the file within one transfer
    std::string name; // file name without its extension
    std::string type; // MIME type, "image/jpeg" for pictures
    std::string data; // the bytes

    bool operator==(const TransferredFile&) const = default;
};

} // namespace wl
