#pragma once

#include "platform/Clock.h"
#include "platform/PreferencesStore.h"
#include "settings/Settings.h"

#include <atomic>

// A clock the test moves by hand.
class FakeClock final : public Clock {
public:
    MediaTime now() const override { return MediaTime::fromNanoseconds(m_ns.load()); }
    void set(double seconds) { m_ns = int64_t(seconds * 1e9); }
    void advance(double seconds) { m_ns += int64_t(seconds * 1e9); }

private:
    std::atomic<int64_t> m_ns{0};
};

// Preferences in memory, with the store's change signal.
class FakePreferencesStore final : public PreferencesStore {
    Q_OBJECT
public:
    void registerDefaults(const QVariantMap& defaults) override { m_defaults.insert(defaults); }
    QVariant value(const QString& key) const override {
        return m_values.contains(key) ? m_values.value(key) : m_defaults.value(key);
    }
    void setValue(const QString& key, const QVariant& value) override {
        m_values.insert(key, value);
        emit changed();
    }
    void remove(const QString& key) override {
        m_values.remove(key);
        emit changed();
    }

private:
    QVariantMap m_values;
    QVariantMap m_defaults;
};

// A store installed as the settings store, defaults registered; uninstalled with the object.
template <typename Store> struct InstalledSettings {
    InstalledSettings() {
        Settings::useStore(&store);
        Settings::registerDefaults();
    }
    ~InstalledSettings() { Settings::useStore(nullptr); }
    Store store;
};
// A fresh in-memory store.
using FakeSettings = InstalledSettings<FakePreferencesStore>;
