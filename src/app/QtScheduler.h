#pragma once

#include "app/Scheduler.h"

// Delayed blocks as single-shot QTimers on the main thread.
class QtScheduler final : public Scheduler {
public:
    std::unique_ptr<Pending> after(double seconds, std::function<void()> block) override;
};
