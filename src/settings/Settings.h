#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <vector>

class PreferencesStore;

// The user's preferences: names, defaults and legal ranges, read from the store at every use and
// clamped on read (never validated on write), plus the clips folder and the derived lists.
namespace Settings {

namespace Keys {
inline const QString buffer = QStringLiteral("bufferSeconds");
inline const QString fps = QStringLiteral("fps");
inline const QString maxWidth = QStringLiteral("maxWidth");
inline const QString sound = QStringLiteral("playSound");
inline const QString autoPause = QStringLiteral("autoPauseOnLock");
inline const QString hasLaunched = QStringLiteral("hasLaunchedBefore");
} // namespace Keys

enum class ValueType { Double, Integer, Boolean };

struct Option {
    QString key;
    ValueType type;
    QVariant defaultValue; // invalid: not registered
    double minimum = 0;
    double maximum = 0; // minimum == maximum: not clamped
};

// Every stored preference, in one table the getters and the tests walk.
const std::vector<Option>& options();

// The store every read and write goes to. The application installs the platform's store at start-up;
// tests install a fake or a store under a temporary HOME. Not owned.
void useStore(PreferencesStore* store);
PreferencesStore* store();

void registerDefaults();

double bufferSeconds();
int fps();
double maxWidth();
bool playSound();
bool autoPauseOnLock();
bool hasLaunchedBefore();
void setValue(const QString& key, const QVariant& value);

constexpr int handoffFrames = 6;

// "Ferrovane" in the desktop's videos folder (usually ~/Videos; where the user renamed or moved it, there),
// never created here.
QString folder();
// The clips folder as the panel names it ("Videos › Ferrovane") and as a path ("~/Videos/Ferrovane").
QString folderAsPlace();
QString folderAsPath();

std::vector<double> saveOptions(double buffer);

// The newest *.mp4 files of folder(), newest first; empty when the folder cannot be listed.
QStringList recentClips(int limit = 5);
QStringList recentClipsIn(const QString& directory, int limit = 5);

} // namespace Settings
