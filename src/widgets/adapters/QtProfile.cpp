// src/widgets/adapters/QtProfile.cpp
#include "widgets/adapters/QtProfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>
#include <QStringList>
#include <QTemporaryFile>
#include <QVariant>
#include <limits>

#include "core/settings/ProfileNames.h"
#include "widgets/adapters/Logging.h"
#include "widgets/adapters/TextCodec.h"

namespace platform {
namespace {

QString Key(const std::string& section, const std::string& name) {
    return FromCp1250(section) + QLatin1Char('/') + FromCp1250(name);
}

// A stored value as text: numbers give their digits, a list (an unquoted
// comma in a hand-edited file) its items joined again.
std::optional<QString> ValueText(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QStringLiteral(", "));
    }
    if (!value.canConvert<QString>()) {
        return std::nullopt;
    }
    return value.toString();
}

std::optional<int32_t> FitInt32(long long number) {
    if (number < std::numeric_limits<int32_t>::min() ||
        number > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(number);
}

// What stops the settings file from being written, in the system's words, or
// nothing. QSettings opens an existing file for reading and writing, and
// writes a new copy beside it in its folder (made if missing).
QString WriteProblem(const QString& path) {
    const QFileInfo file(path);
    if (file.exists()) {
        QFile existing(path);
        if (!existing.open(QIODevice::ReadWrite)) {
            return existing.errorString();
        }
    }
    QString folder = file.absolutePath();
    while (!QFileInfo::exists(folder) && !QDir(folder).isRoot()) {
        folder = QFileInfo(folder).absolutePath();
    }
    QTemporaryFile copy(folder + QStringLiteral("/.Mrmx3-XXXXXX"));
    if (!copy.open()) {
        return copy.errorString();
    }
    return {};
}

}  // namespace

QtProfile::QtProfile()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QString::fromLatin1(kProfileOrganisation),
                                             QString::fromLatin1(kProfileApplication))) {}

QtProfile::QtProfile(std::unique_ptr<QSettings> settings) : m_settings(std::move(settings)) {}

QtProfile::~QtProfile() {
    if (m_syncPending) {
        Sync();
    }
}

std::optional<std::string> QtProfile::ReadString(const std::string& section,
                                                 const std::string& name) const {
    const QVariant value = m_settings->value(Key(section, name));
    if (!value.isValid()) {
        return std::nullopt;
    }
    const std::optional<QString> text = ValueText(value);
    if (!text) {
        return std::nullopt;
    }
    return ToCp1250(*text);
}

// Integers come back as numbers from the registry and as text from INI files;
// anything that is not a 32-bit integer counts as missing.
std::optional<int32_t> QtProfile::ReadInt(const std::string& section,
                                          const std::string& name) const {
    const QVariant value = m_settings->value(Key(section, name));
    bool ok = false;
    switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::Short:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::Long:
        case QMetaType::LongLong: {
            const long long number = value.toLongLong(&ok);
            return ok ? FitInt32(number) : std::nullopt;
        }
        case QMetaType::UInt:
        case QMetaType::UShort:
        case QMetaType::UChar:
        case QMetaType::ULong:
        case QMetaType::ULongLong: {
            const unsigned long long number = value.toULongLong(&ok);
            if (!ok ||
                number > static_cast<unsigned long long>(std::numeric_limits<int32_t>::max())) {
                return std::nullopt;
            }
            return static_cast<int32_t>(number);
        }
        case QMetaType::Bool:
            return value.toBool() ? 1 : 0;
        default:
            break;
    }
    const std::optional<QString> text = ValueText(value);
    if (!text) {
        return std::nullopt;
    }
    const int number = text->trimmed().toInt(&ok, 10);
    if (!ok) {
        return std::nullopt;
    }
    return static_cast<int32_t>(number);
}

void QtProfile::WriteString(const std::string& section, const std::string& name,
                            const std::string& value) {
    m_settings->setValue(Key(section, name), FromCp1250(value));
    ScheduleSync();
}

void QtProfile::WriteInt(const std::string& section, const std::string& name, int32_t value) {
    m_settings->setValue(Key(section, name), static_cast<int>(value));
    ScheduleSync();
}

void QtProfile::ScheduleSync() {
    if (m_syncPending) {
        return;
    }
    m_syncPending = true;
    m_clean = m_settings->status() == QSettings::NoError;
    QMetaObject::invokeMethod(
        m_settings.get(), [this] { Sync(); }, Qt::QueuedConnection);
}

// QSettings keeps its first error for good: an error that is new since the
// writes is theirs; after an older one only the check of file and folder can
// tell whether these writes failed too.
void QtProfile::Sync() {
    m_syncPending = false;
    m_settings->sync();
    if (m_settings->status() != QSettings::AccessError) {
        return;
    }
    QString problem = WriteProblem(m_settings->fileName());
    if (problem.isEmpty()) {
        if (!m_clean) {
            return;
        }
        problem = QStringLiteral("unknown error");
    }
    qCWarning(lcSettings).noquote()
        << QStringLiteral("Settings not saved to %1: %2").arg(m_settings->fileName(), problem);
}

}  // namespace platform
