#include "signalling/OpusStereo.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <utility>
#include <vector>

namespace wl {

namespace {

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trim(const std::string& text)
{
    std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    std::size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// "a=rtpmap:111 opus/48000/2" → "111"; "" when the line is no opus/48000 map.
std::string opusPayloadType(const std::string& line)
{
    static const std::string prefix = "a=rtpmap:";
    if (line.rfind(prefix, 0) != 0)
        return {};
    std::size_t space = line.find(' ', prefix.size());
    if (space == std::string::npos)
        return {};
    std::string pt = line.substr(prefix.size(), space - prefix.size());
    std::string codec = lower(trim(line.substr(space + 1)));
    if (codec.rfind("opus/48000", 0) != 0 || pt.empty() ||
        !std::all_of(pt.begin(), pt.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    return pt;
}

std::string withStereoParameters(const std::string& parameters)
{
    static const std::vector<std::pair<std::string, std::string>> wanted = {
        {"stereo", "1"}, {"sprop-stereo", "1"}, {"maxaveragebitrate", "128000"}, {"useinbandfec", "1"}};
    std::vector<std::pair<std::string, std::string>> items;
    std::size_t start = 0;
    while (start <= parameters.size()) {
        std::size_t end = parameters.find(';', start);
        std::string item = trim(parameters.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (!item.empty()) {
            std::size_t eq = item.find('=');
            if (eq == std::string::npos)
                items.emplace_back(item, std::string());
            else
                items.emplace_back(trim(item.substr(0, eq)), trim(item.substr(eq + 1)));
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    for (const auto& [key, value] : wanted) {
        auto it = std::find_if(items.begin(), items.end(),
                               [&key = key](const auto& item) { return lower(item.first) == key; });
        if (it != items.end())
            it->second = value;
        else
            items.emplace_back(key, value);
    }
    std::string text;
    for (const auto& [key, value] : items) {
        if (!text.empty())
            text += ';';
        text += key;
        if (!value.empty())
            text += '=' + value;
    }
    return text;
}

} // namespace

std::string preferOpusStereo(const std::string& sdp)
{
    // Split into lines, remembering each line's ending.
    struct Line {
        std::string text;
        std::string ending;
    };
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < sdp.size()) {
        std::size_t newline = sdp.find('\n', start);
        std::string raw = sdp.substr(start, newline == std::string::npos ? std::string::npos : newline - start);
        std::string ending = newline == std::string::npos ? "" : "\n";
        if (!raw.empty() && raw.back() == '\r') {
            raw.pop_back();
            ending = "\r" + ending;
        }
        lines.push_back({raw, ending});
        if (newline == std::string::npos)
            break;
        start = newline + 1;
    }
    std::string defaultEnding = "\r\n";
    for (const auto& line : lines)
        if (!line.ending.empty()) {
            defaultEnding = line.ending;
            break;
        }

    std::set<std::string> opus;
    for (const auto& line : lines) {
        std::string pt = opusPayloadType(line.text);
        if (!pt.empty())
            opus.insert(pt);
    }
    if (opus.empty())
        return sdp;

    std::set<std::string> hasFmtp;
    for (auto& line : lines) {
        static const std::string prefix = "a=fmtp:";
        if (line.text.rfind(prefix, 0) != 0)
            continue;
        std::size_t space = line.text.find(' ', prefix.size());
        std::string pt =
            line.text.substr(prefix.size(), space == std::string::npos ? std::string::npos : space - prefix.size());
        if (!opus.count(pt))
            continue;
        std::string parameters = space == std::string::npos ? std::string() : line.text.substr(space + 1);
        line.text = prefix + pt + " " + withStereoParameters(parameters);
        hasFmtp.insert(pt);
    }

    std::string result;
    for (const auto& line : lines) {
        result += line.text + line.ending;
        std::string pt = opusPayloadType(line.text);
        if (!pt.empty() && !hasFmtp.count(pt)) {
            if (line.ending.empty())
                result += defaultEnding;
            result += "a=fmtp:" + pt + " " + withStereoParameters("") + (line.ending.empty() ? "" : line.ending);
            hasFmtp.insert(pt);
        }
    }
    return result;
}

std::string soundOutOfStream(const std::string& sdp)
{
    std::string result;
    result.reserve(sdp.size());
    bool audio = false;
    std::size_t start = 0;
    while (start < sdp.size()) {
        std::size_t newline = sdp.find('\n', start);
        std::size_t end = newline == std::string::npos ? sdp.size() : newline + 1;
        std::string line = sdp.substr(start, end - start);
        start = end;
        if (line.rfind("m=", 0) == 0)
            audio = line.rfind("m=audio", 0) == 0;
        // "a=msid:<stream> <track>" or "a=ssrc:<n> msid:<stream> <track>".
        std::size_t msid = std::string::npos;
        if (line.rfind("a=msid:", 0) == 0)
            msid = 2;
        else if (line.rfind("a=ssrc:", 0) == 0)
            msid = line.find(" msid:");
        if (audio && msid != std::string::npos) {
            if (line[msid] == ' ')
                ++msid;
            const std::size_t stream = msid + 5;
            const std::size_t after = std::min(line.find_first_of(" \r\n", stream), line.size());
            line = line.substr(0, stream) + "-" + line.substr(after);
        }
        result += line;
    }
    return result;
}

} // namespace wl
