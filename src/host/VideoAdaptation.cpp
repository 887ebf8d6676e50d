#include "host/VideoAdaptation.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace wl {

namespace {

const StatValue* find(const StatsEntry& entry, const char* key)
{
    auto it = entry.values.find(key);
    return it == entry.values.end() ? nullptr : &it->second;
}

std::optional<double> number(const StatsEntry& entry, const char* key)
{
    const StatValue* value = find(entry, key);
    if (!value)
        return std::nullopt;
    if (auto* whole = std::get_if<std::int64_t>(value))
        return double(*whole);
    if (auto* real = std::get_if<double>(value))
        return *real;
    if (auto* flag = std::get_if<bool>(value))
        return *flag ? 1.0 : 0.0;
    return std::nullopt;
}

std::optional<std::string> text(const StatsEntry& entry, const char* key)
{
    const StatValue* value = find(entry, key);
    if (auto* string = value ? std::get_if<std::string>(value) : nullptr)
        return *string;
    return std::nullopt;
}

std::string shortest(double value)
{
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// A value as it prints in the log; "-" when missing.
std::string shown(const StatsEntry& entry, const char* key)
{
    const StatValue* value = find(entry, key);
    if (!value)
        return "-";
    if (auto* flag = std::get_if<bool>(value))
        return *flag ? "1" : "0";
    if (auto* whole = std::get_if<std::int64_t>(value))
        return std::to_string(*whole);
    if (auto* real = std::get_if<double>(value))
        return shortest(*real);
    return std::get<std::string>(*value);
}

std::string truncated(std::optional<double> value, double factor)
{
    if (!value)
        return "-";
    return std::to_string(static_cast<long long>(std::trunc(*value * factor)));
}

} // namespace

StatsReading readStats(const StatsReport& report, long long framesCaptured, bool tenBit,
                       const std::string& transceivers, const std::optional<std::string>& route)
{
    StatsReading reading;
    std::map<std::string, std::string> codecs;
    for (const auto& entry : report) {
        if (entry.type != "codec")
            continue;
        if (auto mime = text(entry, "mimeType"))
            codecs[entry.id] = *mime;
        else
            codecs.erase(entry.id);
    }
    reading.parts.push_back("captured=" + std::to_string(framesCaptured));
    reading.parts.push_back(std::string("bits=") + (tenBit ? "10" : "8"));
    reading.parts.push_back("transceivers=[" + transceivers + "]");

    for (const auto& entry : report) {
        if (entry.type != "outbound-rtp")
            continue;
        std::string codec = "none";
        if (auto id = text(entry, "codecId")) {
            auto it = codecs.find(*id);
            if (it != codecs.end())
                codec = it->second;
        }
        if (codec.rfind("video/", 0) == 0)
            reading.videoCodecs.push_back(codec);
        reading.parts.push_back("outbound codec=" + codec + " encoded=" + shown(entry, "framesEncoded") +
                                " sent=" + shown(entry, "framesSent") + " bytes=" + shown(entry, "bytesSent") +
                                " encoder=" + shown(entry, "encoderImplementation") +
                                " limit=" + shown(entry, "qualityLimitationReason") +
                                " size=" + shown(entry, "frameWidth") + "x" + shown(entry, "frameHeight"));
    }
    for (const auto& entry : report) {
        if (entry.type != "candidate-pair")
            continue;
        auto nominated = number(entry, "nominated");
        if (!nominated || *nominated == 0)
            continue;
        const auto available = number(entry, "availableOutgoingBitrate");
        if (text(entry, "state") == std::optional<std::string>("succeeded") && available)
            reading.availableBitrate = *available;
        reading.parts.push_back("pair state=" + shown(entry, "state") + " availKbps=" + truncated(available, 0.001) +
                                " rttMs=" + truncated(number(entry, "currentRoundTripTime"), 1000));
    }
    for (const auto& entry : report) {
        if (entry.type != "outbound-rtp")
            continue;
        auto whole = [&](const char* key) { return std::int64_t(number(entry, key).value_or(0)); };
        reading.totals.nacks += whole("nackCount");
        reading.totals.packets += whole("packetsSent");
        reading.totals.plis += whole("pliCount");
        reading.parts.push_back("fps=" + shown(entry, "framesPerSecond") + " pli=" + shown(entry, "pliCount") +
                                " nack=" + shown(entry, "nackCount"));
    }
    for (const auto& entry : report)
        if (entry.type == "remote-inbound-rtp")
            reading.parts.push_back("lost=" + shown(entry, "packetsLost") +
                                    " fractionLost=" + shown(entry, "fractionLost"));
    reading.parts.push_back("path=" + route.value_or("-"));
    return reading;
}

LinkQuality classifyLink(double resendShare, std::int64_t pliDelta)
{
    if (resendShare >= 0.12 || pliDelta >= 3)
        return LinkQuality::bad;
    if (resendShare >= 0.05 || pliDelta >= 2)
        return LinkQuality::strained;
    return LinkQuality::good;
}

std::optional<int> targetWidth(LinkQuality link, std::optional<double> effectiveBitrate)
{
    const int column = link == LinkQuality::bad ? 0 : link == LinkQuality::strained ? 1 : 2;
    if (!effectiveBitrate) {
        static constexpr int unknown[] = {1280, 1920, 0};
        return unknown[column] ? std::optional<int>(unknown[column]) : std::nullopt;
    }
    const double bitrate = *effectiveBitrate;
    if (bitrate >= 6000000) {
        static constexpr int widths[] = {1280, 1920, 2560};
        return widths[column];
    }
    if (bitrate >= 3000000) {
        static constexpr int widths[] = {1280, 1920, 1920};
        return widths[column];
    }
    if (bitrate >= 1500000)
        return 1280;
    return 960;
}

double proposedScale(int captureWidth, std::optional<int> target)
{
    if (!target || *target <= 0)
        return 1.0;
    return std::max(double(captureWidth) / double(*target), 1.0);
}

int targetFrameRate(std::optional<double> bitrate, std::optional<std::pair<int, int>> captureSize, double scale,
                    bool h265)
{
    if (!bitrate || !captureSize)
        return 60;
    const double pixels = double(captureSize->first) * double(captureSize->second) / (scale * scale);
    const double bitsPerPixel = h265 ? 0.045 : 0.07;
    const double rate = (*bitrate * 0.5) / (pixels * bitsPerPixel);
    if (!(rate > 12))
        return 12;
    return int(std::min(rate, 60.0));
}

std::string scaleText(double scale)
{
    std::string text = shortest(scale);
    if (text.find_first_of(".eEn") == std::string::npos)
        text += ".0";
    return text;
}

bool VideoAdaptation::noteCodec(const std::string& codec)
{
    const bool h265 = codec == "video/H265";
    if (h265 == usingH265_)
        return false;
    usingH265_ = h265;
    return true;
}

std::vector<std::string> VideoAdaptation::apply(const StatsReading& reading,
                                                std::optional<std::pair<int, int>> captureSize, const Sender* sender)
{
    if (reading.availableBitrate)
        lastAvailableBitrate_ = reading.availableBitrate;
    const std::optional<double> bitrate = lastAvailableBitrate_;
    const std::int64_t packetsDelta = reading.totals.packets - lastTotals_.packets;
    const double resendShare =
        packetsDelta > 0 ? double(reading.totals.nacks - lastTotals_.nacks) / double(packetsDelta) : 0.0;
    const std::int64_t pliDelta = reading.totals.plis - lastTotals_.plis;
    lastTotals_ = reading.totals;

    std::vector<std::string> log;
    adjustScale(bitrate, resendShare, pliDelta, captureSize, sender, log);
    adjustFrameRate(bitrate, captureSize, sender, log);

    char share[32];
    std::snprintf(share, sizeof share, "%.3f", resendShare);
    std::string line = "Wickerlane stats: ";
    for (std::size_t i = 0; i < reading.parts.size(); ++i)
        line += (i ? " | " : "") + reading.parts[i];
    line += std::string(reading.parts.empty() ? "" : " | ") + "resendShare=" + share +
        " scale=" + scaleText(currentScale_) + " maxFps=" + std::to_string(currentFrameRate_);
    log.push_back(line);
    return log;
}

void VideoAdaptation::adjustScale(std::optional<double> bitrate, double resendShare, std::int64_t pliDelta,
                                  std::optional<std::pair<int, int>> captureSize, const Sender* sender,
                                  std::vector<std::string>& log)
{
    if (!captureSize)
        return;
    const LinkQuality link = classifyLink(resendShare, pliDelta);
    std::optional<double> effective = bitrate;
    if (effective && usingH265_)
        *effective /= 0.65;
    const double proposal = proposedScale(captureSize->first, targetWidth(link, effective));

    if (proposal == currentScale_) {
        pendingScale_.reset();
        pendingReadings_ = 0;
        return;
    }
    if (pendingScale_ && proposal == *pendingScale_) {
        ++pendingReadings_;
        const int needed = proposal > currentScale_ ? 2 : 4;
        if (pendingReadings_ < needed)
            return;
    } else {
        pendingScale_ = proposal;
        pendingReadings_ = 1;
        return;
    }
    if (!sender)
        return;
    pendingScale_.reset();
    pendingReadings_ = 0;
    if (sender->setScale)
        sender->setScale(proposal);
    const std::string available = bitrate ? truncated(bitrate, 0.001) + " kbps" : "?";
    log.push_back("Wickerlane: resolution scale " + scaleText(currentScale_) + " \u2192 " + scaleText(proposal) +
                  " (available " + available + ", resends " + truncated(resendShare, 1000) +
                  " per 1000 packets, full-picture requests " + std::to_string(pliDelta) + ")");
    currentScale_ = proposal;
}

void VideoAdaptation::adjustFrameRate(std::optional<double> bitrate, std::optional<std::pair<int, int>> captureSize,
                                      const Sender* sender, std::vector<std::string>& log)
{
    const int target = targetFrameRate(bitrate, captureSize, currentScale_, usingH265_);
    if (std::abs(target - currentFrameRate_) < 3)
        return;
    if (!sender)
        return;
    if (sender->setMaxFrameRate)
        sender->setMaxFrameRate(target);
    log.push_back("Wickerlane: frame rate ceiling " + std::to_string(currentFrameRate_) + " \u2192 " +
                  std::to_string(target));
    currentFrameRate_ = target;
}

} // namespace wl
