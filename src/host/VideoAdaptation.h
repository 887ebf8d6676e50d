#pragma once
// How the host adapts its screen video to the link, WebRTC's own degradation being off.
// Every 3 seconds the host peer reads the connection's statistics, turns the report into
// a StatsReport (plain entries, so the rules here can be checked on made-up reports),
// and hands the reading to VideoAdaptation, which decides two parameters of the video
// sender: the resolution divisor and the frame-rate ceiling.
//
// - The link is bad when the helper asked to resend 12 % of the packets or asked for 3
//   full pictures since the last reading, strained at 5 % or 2.
// - The available outgoing bitrate (divided by 0.65 for H.265, which does more with
//   less) and the link pick a target width; the divisor is capture width ÷ target,
//   never below 1. A smaller picture needs the same proposal twice in a row, a larger
//   one four times.
// - The ceiling spends half the bitrate at 0.07 bits a pixel (0.045 for H.265), between
//   12 and 60 frames a second, and changes only by 3 or more.
//
// readStats may run on any thread; VideoAdaptation belongs to the main thread.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace wl {

// One value of a statistics entry: a flag, a whole number, a number or a text.
using StatValue = std::variant<bool, std::int64_t, double, std::string>;

struct StatsEntry {
    std::string id;
    std::string type; // "codec", "outbound-rtp", "candidate-pair", "remote-inbound-rtp", ...
    std::map<std::string, StatValue> values;
};

// A statistics report, in the report's own order.
using StatsReport = std::vector<StatsEntry>;

struct StatsTotals {
    std::int64_t nacks = 0;
    std::int64_t packets = 0;
    std::int64_t plis = 0;
    bool operator==(const StatsTotals&) const = default;
};

struct StatsReading {
    std::optional<double> availableBitrate; // bits per second
    StatsTotals totals; // over every outgoing stream, sound too
    std::vector<std::string> parts; // of the "Wickerlane stats: " line
    std::vector<std::string> videoCodecs; // the outgoing video codecs seen, such as "video/H265"
};

// Walks the report: codec names, outgoing streams, the nominated candidate pair, losses.
// route: the path the connection takes, when known.
StatsReading readStats(const StatsReport& report, long long framesCaptured, bool tenBit,
                       const std::string& transceivers, const std::optional<std::string>& route);

enum class LinkQuality { good, strained, bad };

LinkQuality classifyLink(double resendShare, std::int64_t pliDelta);
// The widest picture worth sending; nullopt for no limit (a good link, bitrate unknown).
std::optional<int> targetWidth(LinkQuality link, std::optional<double> effectiveBitrate);
// capture width ÷ target width, at least 1; 1 without a target.
double proposedScale(int captureWidth, std::optional<int> target);
// The frame-rate ceiling for the bitrate, the capture and the divisor: 12...60; 60
// without a bitrate or a capture.
int targetFrameRate(std::optional<double> bitrate, std::optional<std::pair<int, int>> captureSize, double scale,
                    bool h265);
// The divisor as the log shows it: the shortest form that reads back exactly, with a
// decimal point ("1.0", "1.5", "2.6666666666666665").
std::string scaleText(double scale);

class VideoAdaptation {
public:
    // Writes the parameter on every encoding of the video sender.
    struct Sender {
        std::function<void(double scale)> setScale;
        std::function<void(int frameRate)> setMaxFrameRate;
    };

    double currentScale() const { return currentScale_; }
    std::optional<double> pendingScale() const { return pendingScale_; }
    int pendingReadings() const { return pendingReadings_; }
    int currentFrameRate() const { return currentFrameRate_; }
    std::optional<double> lastAvailableBitrate() const { return lastAvailableBitrate_; }
    bool usingH265() const { return usingH265_; }

    // The outgoing video codec; true when it changed whether H.265 is in use.
    bool noteCodec(const std::string& codec);
    // Applies one reading: deltas, the divisor, the ceiling. Returns the log lines in
    // order: a change of divisor, a change of ceiling, then the statistics line.
    // sender: nullptr while there is no video sender (nothing is written, a pending
    // divisor stays pending).
    std::vector<std::string> apply(const StatsReading& reading, std::optional<std::pair<int, int>> captureSize,
                                   const Sender* sender);

private:
    void adjustScale(std::optional<double> bitrate, double resendShare, std::int64_t pliDelta,
                     std::optional<std::pair<int, int>> captureSize, const Sender* sender,
                     std::vector<std::string>& log);
    void adjustFrameRate(std::optional<double> bitrate, std::optional<std::pair<int, int>> captureSize,
                         const Sender* sender, std::vector<std::string>& log);

    double currentScale_ = 1.0;
    std::optional<double> pendingScale_;
    int pendingReadings_ = 0;
    int currentFrameRate_ = 60;
    std::optional<double> lastAvailableBitrate_;
    StatsTotals lastTotals_;
    bool usingH265_ = false;
};

} // namespace wl
