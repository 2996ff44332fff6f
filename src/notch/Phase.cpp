#include "notch/Phase.h"

QString Phase::text() const {
    const QString* text = std::get_if<QString>(&m_value);
    return text ? *text : QString();
}

QUrl Phase::url() const {
    const QUrl* url = std::get_if<QUrl>(&m_value);
    return url ? *url : QUrl();
}

bool operator==(const Phase& a, const Phase& b) {
    if (a.m_kind != b.m_kind) return false;
    if (const QString* text = std::get_if<QString>(&a.m_value)) {
        const QString& other = std::get<QString>(b.m_value);
        return *text == other || text->normalized(QString::NormalizationForm_C) ==
                                     other.normalized(QString::NormalizationForm_C);
    }
    if (const QUrl* url = std::get_if<QUrl>(&a.m_value)) return *url == std::get<QUrl>(b.m_value);
    return true;
}
