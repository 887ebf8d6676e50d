#pragma once
// The bandwidth of a description's video: the library makes a screen stream with the
// highest rate the remote description allows its video ("b=AS"), and without one it logs
// an error and assumes 10 Mbit/s until the sender's encodings apply.

#include <string>

namespace wl {

// The SDP with "b=AS:<kbps>" in every video section that has no "b=AS" line of its own,
// right after the section's "c=" line (after its "m=" line when it has none); other
// lines unchanged. Line endings are kept.
std::string withVideoBandwidth(const std::string& sdp, int kbps);

} // namespace wl
