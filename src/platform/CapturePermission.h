#pragma once

// Whether the user lets this application record the screen, where the desktop asks (Wayland's share
// dialog); X11 asks nobody.
class CapturePermission {
public:
    virtual ~CapturePermission() = default;

    // True where nobody is asked, and until the user turns the desktop's dialog down.
    virtual bool captureAllowed() const { return true; }
    // Forgets the user's earlier answer, so that the next start asks again; nothing where nobody is asked.
    virtual void forgetChoice() {}
};
