#include "core/CoreQt.h"

namespace {

// The first character of a date or time pattern that is no field letter
// (nor a quote) is the separator between its fields.
std::string SeparatorOf(const QString& pattern, const std::string& fallback) {
    for (const QChar c : pattern) {
        if (!c.isLetter() && c != QLatin1Char('\'') && !c.isSpace())
            return QString(c).toStdString();
    }
    return fallback;
}

char SingleByte(const QString& text, char fallback) {
    const QByteArray bytes = text.toLatin1();
    return bytes.size() == 1 && bytes[0] != '?' ? bytes[0] : fallback;
}

} // namespace

QtTimer::QtTimer(std::function<void()> onTick, Qt::TimerType type) : m_onTick(std::move(onTick)) {
    m_timer.setTimerType(type);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (m_nextInterval >= 0) {
            // The first period is over: from this tick on, the regular beat.
            m_timer.setInterval(m_nextInterval);
            m_nextInterval = -1;
        }
        m_onTick();
    });
}

void QtTimer::Start(int32_t intervalMs) {
    m_nextInterval = -1;
    m_timer.start(intervalMs);
}

void QtTimer::StartAfter(int32_t firstMs, int32_t intervalMs) {
    m_nextInterval = intervalMs;
    m_timer.start(firstMs);
}

void QtTimer::Stop() {
    m_nextInterval = -1;
    m_timer.stop();
}

bool QtTimer::IsActive() const {
    return m_timer.isActive();
}

RegionalSettings RegionalSettingsFromLocale(const QLocale& locale) {
    RegionalSettings rs;
    rs.decimalSeparator = SingleByte(locale.decimalPoint(), '.');
    // A group separator outside 8 bits (a narrow no-break space) is written
    // as a plain space.
    rs.groupSeparator = SingleByte(locale.groupSeparator(), ' ');
    rs.dateSeparator = SeparatorOf(locale.dateFormat(QLocale::ShortFormat), "/");
    rs.timeSeparator = SeparatorOf(locale.timeFormat(QLocale::ShortFormat), ":");
    return rs;
}
