#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// The user's preferences. Keys never set answer their registered default; `changed` is emitted once per
// write and once for every change made from outside (another process, a text editor).
class PreferencesStore : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~PreferencesStore() override = default;

    virtual void registerDefaults(const QVariantMap& defaults) = 0;
    // An invalid QVariant when the key is neither stored nor registered.
    virtual QVariant value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    virtual void remove(const QString& key) = 0;

signals:
    void changed();
};
