#include "media/EncodedFrames.h"

#include <atomic>

namespace wl {

namespace {
std::atomic<long long> count{0};
std::atomic<int> lastQp{-1};
} // namespace

long long encodedFrameCount()
{
    return count.load();
}

int lastEncodedQp()
{
    return lastQp.load();
}

void countEncodedFrame(int qp)
{
    lastQp = qp;
    ++count;
}

} // namespace wl
