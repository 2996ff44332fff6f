#pragma once

#include "base/Error.h"

#include <QString>

#include <functional>
#include <optional>

// What the application controller needs of a recorder. Called on the main thread only, and every callback
// runs there too, so the controller never needs to hop between threads.
class Recording {
public:
    using Done = std::function<void()>;

    // What a save could have now, and why nothing can be saved while the newest seconds cannot be written.
    struct Fill {
        double seconds = 0;
        std::optional<Error> writeError;
    };
    virtual ~Recording() = default;

    virtual double bufferSeconds() const = 0;
    virtual int fps() const = 0;
    virtual double maxWidth() const = 0;
    // Capture runs, or it failed and says why.
    virtual void start(std::function<void(const Status&)> done) = 0;
    // The stream has stopped and the open segment is closed.
    virtual void stop(Done done) = 0;
    // Deletes the buffer once no save reads it; returns at once.
    virtual void discard() = 0;
    // Deletes the buffer and waits until it is gone, and the buffers of the recorders discarded before it
    // (saves in progress finish first). Quit only.
    virtual void discardAndWait() = 0;
    virtual Fill fill() = 0;
    // The stream stopped by itself. Empty to stop listening: nothing is heard after that.
    virtual void setOnStop(std::function<void(const Error&)> callback) = 0;
    // `completion` runs once.
    virtual void saveLast(double seconds, const QString& folder,
                          std::function<void(const Result<QString>&)> completion) = 0;
};
