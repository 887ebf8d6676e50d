#include "signalling/ScreenBandwidth.h"

#include <vector>

namespace wl {

std::string withVideoBandwidth(const std::string& sdp, int kbps)
{
    // The sections, each from its "m=" line (the session part first).
    std::vector<std::string> sections(1);
    for (std::size_t start = 0; start < sdp.size();) {
        const std::size_t newline = sdp.find('\n', start);
        const std::size_t end = newline == std::string::npos ? sdp.size() : newline + 1;
        if (sdp.compare(start, 2, "m=") == 0)
            sections.emplace_back();
        sections.back() += sdp.substr(start, end - start);
        start = end;
    }
    const std::size_t crlf = sdp.find("\r\n");
    const std::string ending = crlf != std::string::npos || sdp.find('\n') == std::string::npos ? "\r\n" : "\n";
    std::string result = sections[0];
    for (std::size_t i = 1; i < sections.size(); ++i) {
        std::string& section = sections[i];
        if (section.rfind("m=video", 0) == 0 && section.find("\nb=AS:") == std::string::npos) {
            // After the "c=" line, or else after the "m=" line.
            std::size_t at = section.find("\nc=");
            at = at == std::string::npos ? section.find('\n') : section.find('\n', at + 1);
            const std::string line = "b=AS:" + std::to_string(kbps) + ending;
            if (at == std::string::npos)
                section += ending + line.substr(0, line.size() - ending.size());
            else
                section.insert(at + 1, line);
        }
        result += section;
    }
    return result;
}

} // namespace wl
