#pragma once

#include <functional>
#include <memory>

// Delayed blocks on the main thread. Destroying the handle cancels the block if it has not run yet.
class Scheduler {
public:
    class Pending {
    public:
        virtual ~Pending() = default;
    };

    virtual ~Scheduler() = default;
    [[nodiscard]] virtual std::unique_ptr<Pending> after(double seconds, std::function<void()> block) = 0;
};
