// The rule for "another window is above it", over the facts a backend read.
#include "window_system/stacking.h"

namespace {

bool Overlap(const RECT& a, const RECT& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

} // namespace

std::size_t FirstCovering(const RECT& frame, int layer, const std::vector<StackedWindow>& above)
{
    for (std::size_t i = 0; i < above.size(); ++i) {
        const StackedWindow& other = above[i];
        if (other.shown && other.layer <= layer && !other.family && Overlap(other.frame, frame))
            return i;
    }
    return above.size();
}
