#pragma once

#include <QEasingCurve>

// The curves of the notch's animated changes, in one place so the controller's transitions and the views
// that draw them agree.
namespace NotchAnimation {

// Opening and closing: a spring with a response of 0.35 s and a damping fraction of 0.82, run as a
// damped oscillator over the time it needs to settle.
QEasingCurve spring();
constexpr int springDurationMs = 500;
// The spring's position at `seconds` after release, from 0 towards 1 (overshooting by about 1 %).
double springPosition(double seconds);

QEasingCurve easeIn();
QEasingCurve easeOut();
QEasingCurve easeInOut();

constexpr int flashInMs = 80;
constexpr int flashOutMs = 400;
// The flash stays lit this long before it fades out.
constexpr int flashHoldMs = 120;
constexpr int progressGlideMs = 400;
// One way of the ring's dot pulse.
constexpr int pulseMs = 1000;

} // namespace NotchAnimation
