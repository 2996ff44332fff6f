#include "settings/Settings.h"

#include "platform/PreferencesStore.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace Settings {

namespace {

PreferencesStore* g_store = nullptr;

const Option& option(const QString& key) {
    const auto& all = options();
    return *std::find_if(all.begin(), all.end(), [&](const Option& o) { return o.key == key; });
}

QVariant stored(const QString& key) {
    return g_store ? g_store->value(key) : QVariant();
}

// A value of another type reads as 0, like a number store answering for a key that holds text.
double readNumber(const QString& key) {
    bool ok = false;
    const double value = stored(key).toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

double clamped(const QString& key) {
    const Option& o = option(key);
    return std::clamp(readNumber(key), o.minimum, o.maximum);
}

bool readBool(const QString& key) {
    const QVariant v = stored(key);
    if (v.typeId() == QMetaType::Bool) return v.toBool();
    const QString text = v.toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("yes")) return true;
    bool ok = false;
    const double number = text.toDouble(&ok);
    return ok && number != 0.0;
}

} // namespace

const std::vector<Option>& options() {
    static const std::vector<Option> table = {
        {Keys::buffer, ValueType::Double, 30.0, 5, 300},
        {Keys::fps, ValueType::Integer, 30, 5, 60},
        {Keys::maxWidth, ValueType::Double, 1920.0, 640, 3840},
        {Keys::sound, ValueType::Boolean, true},
        {Keys::autoPause, ValueType::Boolean, true},
        {Keys::hasLaunched, ValueType::Boolean, QVariant()},
    };
    return table;
}

void useStore(PreferencesStore* store) {
    g_store = store;
}
PreferencesStore* store() {
    return g_store;
}

void registerDefaults() {
    if (!g_store) return;
    QVariantMap defaults;
    for (const Option& o : options())
        if (o.defaultValue.isValid()) defaults.insert(o.key, o.defaultValue);
    g_store->registerDefaults(defaults);
}

double bufferSeconds() {
    return clamped(Keys::buffer);
}
int fps() {
    return static_cast<int>(clamped(Keys::fps));
}
double maxWidth() {
    return clamped(Keys::maxWidth);
}
bool playSound() {
    return readBool(Keys::sound);
}
bool autoPauseOnLock() {
    return readBool(Keys::autoPause);
}
bool hasLaunchedBefore() {
    return readBool(Keys::hasLaunched);
}

void setValue(const QString& key, const QVariant& value) {
    if (g_store) g_store->setValue(key, value);
}

namespace {

// The desktop's videos folder (XDG_VIDEOS_DIR, localised by xdg-user-dirs; ~/Videos when unset).
QString videosFolder() {
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return QDir::cleanPath(videos.isEmpty() ? QDir::homePath() + QStringLiteral("/Videos") : videos);
}

} // namespace

QString folder() {
    return videosFolder() + QStringLiteral("/Ferrovane/");
}

QString folderAsPlace() {
    return QFileInfo(videosFolder()).fileName() + QStringLiteral(" › Ferrovane");
}

QString folderAsPath() {
    const QString path = QDir::cleanPath(folder());
    const QString home = QDir::cleanPath(QDir::homePath());
    return path.startsWith(home + QLatin1Char('/')) ? QStringLiteral("~") + path.mid(home.size()) : path;
}

std::vector<double> saveOptions(double buffer) {
    std::vector<double> list;
    for (double step : {10.0, 30.0, 60.0, 120.0})
        if (buffer > step) list.push_back(step);
    list.push_back(buffer);
    if (list.size() > 3) list.erase(list.begin(), list.end() - 3);
    return list;
}

QStringList recentClips(int limit) {
    return recentClipsIn(folder(), limit);
}

QStringList recentClipsIn(const QString& directory, int limit) {
    QDir dir(directory);
    if (!dir.exists() || !dir.isReadable()) return {};
    // Unsorted listing, then a stable sort: equal dates keep the listing's order.
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    std::vector<std::pair<QDateTime, QString>> clips;
    for (const QFileInfo& info : entries) {
        if (info.fileName().startsWith(QLatin1Char('.')) || info.suffix().toLower() != QLatin1String("mp4"))
            continue;
        const QDateTime modified = info.lastModified();
        clips.emplace_back(modified.isValid() ? modified : QDateTime::fromMSecsSinceEpoch(0),
                           info.absoluteFilePath());
    }
    std::stable_sort(clips.begin(), clips.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    QStringList result;
    for (const auto& clip : clips) {
        if (result.size() >= limit) break;
        result << clip.second;
    }
    return result;
}

} // namespace Settings
