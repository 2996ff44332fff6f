#pragma once

#include "base/Error.h"

// The application's own entry among the programs the desktop starts when the user logs in. Main thread
// only; every call is synchronous and cheap (a small file at most).
class LoginItem {
public:
    virtual ~LoginItem() = default;

    // Whether the desktop will start the application at the next login.
    virtual bool enabled() const = 0;
    // Each fails with the reason, leaving enabled() as it was where it can.
    virtual Status registerItem() = 0;
    // Succeeds when there was nothing to remove.
    virtual Status unregisterItem() = 0;
};
