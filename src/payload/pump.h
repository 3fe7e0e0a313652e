// How a long copy or decode lets the user interface run and learns that it
// must stop. The copy of a stored entry and the decoder of a packed one call
// `pump` after the first block (or symbol) of a file and then each time the
// file's output passes a further kPumpStep bytes; right after each pump they
// ask `stop`, and end the file there when it answers non-zero.
#pragma once

#include <cstdint>

// Output bytes between two pumps of one file.
inline constexpr std::uint32_t kPumpStep = 102400;

struct PumpControl {
    void (*pump)(void* context);  // runs the user interface for a moment; may be null
    int (*stop)(void* context);   // non-zero: end the file now; may be null (never stop)
    void* context;
};

// Runs one pump of `control` (which may be null) and returns its stop answer.
inline int PumpAndAskStop(const PumpControl* control) {
    if (!control) return 0;
    if (control->pump) control->pump(control->context);
    return control->stop ? control->stop(control->context) : 0;
}
