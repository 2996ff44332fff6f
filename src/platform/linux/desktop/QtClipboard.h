#pragma once

#include "platform/Clipboard.h"

// The clipboard through QClipboard (its CLIPBOARD selection on X11, the same on Wayland). Needs a
// QGuiApplication; main thread only, as QClipboard is. On X11 the content is served by this process: it
// stays pasteable while the application runs (or after it quits, when a clipboard manager took a copy),
// and answering a paste needs the main thread's event loop to run.
class QtClipboard final : public Clipboard {
public:
    void setText(const QString& text) override;
    void setFile(const QString& path) override;
    QString text() const override;
};
