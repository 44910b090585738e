// What the desktop shows of a download outside the window (the Windows taskbar button, the Linux
// dock's launcher entry), the same rule in both editions: a value while the total is known, a
// busy mark while it is not, an error mark after a failure until the next download starts, and
// nothing after a success or a cancellation. The UI thread's progress timer and the outcome
// handler ask it; the worker does nothing for it.
#pragma once

#include <cstdint>

namespace core {

enum class DesktopProgressState { None, Normal, Indeterminate, Error };

struct DesktopProgress {
    DesktopProgressState state = DesktopProgressState::None;
    std::uint64_t completed = 0; // of total, meaningful with Normal only
    std::uint64_t total = 0;
};

// busy: a download runs; failed: the last download that ended failed, and no other has started.
inline DesktopProgress ComputeDesktopProgress(bool busy, bool failed, bool totalKnown,
                                              std::uint64_t received, std::uint64_t total) {
    if (!busy) {
        return {failed ? DesktopProgressState::Error : DesktopProgressState::None, 0, 0};
    }
    // A zero total has no fraction to show; a body longer than announced never shows past full.
    if (!totalKnown || total == 0) {
        return {DesktopProgressState::Indeterminate, 0, 0};
    }
    return {DesktopProgressState::Normal, received < total ? received : total, total};
}

// The fraction 0..1 for desktops that take one (the Linux launcher entry's "progress").
inline double DesktopProgressFraction(const DesktopProgress& progress) {
    return progress.total == 0
               ? 0.0
               : static_cast<double>(progress.completed) / static_cast<double>(progress.total);
}

} // namespace core
