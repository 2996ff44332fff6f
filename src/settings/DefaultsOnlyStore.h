#pragma once

#include "platform/PreferencesStore.h"

#include <QVariantMap>

// Registered defaults and nothing else, for tools (the gallery, benchmarks) that must neither read nor
// write the user's preferences.
class DefaultsOnlyStore final : public PreferencesStore {
public:
    void registerDefaults(const QVariantMap& defaults) override { m_defaults.insert(defaults); }
    QVariant value(const QString& key) const override { return m_defaults.value(key); }
    void setValue(const QString&, const QVariant&) override {}
    void remove(const QString&) override {}

private:
    QVariantMap m_defaults;
};
