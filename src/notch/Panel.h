#pragma once

// What the application controller asks of the notch panel. Main thread only.
class Panel {
public:
    virtual ~Panel() = default;

    // Opens the card if closed and keeps it open for at least `seconds` (a later call replaces the pin).
    virtual void peek(double seconds) = 0;
    // Flashes the notch shape white once.
    virtual void flash() = 0;
    // Measures the screens again and moves the panel; for screen changes.
    virtual void reposition() = 0;
};
