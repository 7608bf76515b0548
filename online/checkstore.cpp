// The update check's store as an INI file. QSettings keeps the first error it meets for the object's whole life, so
// every read and write uses a fresh object to see its own outcome; the file is a few lines long.
#include "online/checkstore.h"

#include "online/serverrequest.h"
#include "platform/filesystem.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace clavora::online {

namespace {

const QString Section = QStringLiteral("Settings");

QString key(const char* name) {
    return Section + QLatin1Char('/') + QLatin1String(name);
}

} // namespace

IniCheckStore::IniCheckStore(QString folder)
    : m_folder(std::move(folder)), m_fileName(m_folder + QStringLiteral("/updatecheck.ini")) {}

IniCheckStore::~IniCheckStore() = default;

bool IniCheckStore::open() {
    m_open = false;
    if (m_folder.isEmpty() || !QDir().mkpath(m_folder)) {
        qCWarning(lcOnline) << "Cannot create the update-check folder" << m_folder;
        return false;
    }
    const QFileInfo file(m_fileName);
    if (file.exists() && (!file.isFile() || !file.isReadable())) {
        qCWarning(lcOnline) << "Cannot read the update-check store" << m_fileName;
        return false;
    }
    QSettings settings(m_fileName, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        qCWarning(lcOnline) << "Cannot read the update-check store" << m_fileName;
        return false;
    }
    m_open = true;
    return true;
}

QString IniCheckStore::readString(const char* name, const QString& defaultValue) {
    if (!m_open) {
        return defaultValue;
    }
    const QSettings settings(m_fileName, QSettings::IniFormat);
    const QVariant value = settings.value(key(name));
    if (settings.status() != QSettings::NoError || !value.isValid()) {
        return defaultValue;
    }
    return value.toString();
}

int IniCheckStore::readInteger(const char* name, int defaultValue) {
    bool ok = false;
    const int value = readString(name, QString()).trimmed().toInt(&ok);
    return ok ? value : defaultValue;
}

bool IniCheckStore::writeString(const char* name, const QString& value) {
    return write(name, value);
}

bool IniCheckStore::writeInteger(const char* name, int value) {
    return write(name, QString::number(value));
}

bool IniCheckStore::write(const char* name, const QString& value) {
    if (!m_open) {
        return false;
    }
    QSettings settings(m_fileName, QSettings::IniFormat);
    settings.setValue(key(name), value);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        qCWarning(lcOnline) << "Cannot write" << name << "to" << m_fileName;
        return false;
    }
    return true;
}

QString checkStoreFolder(const QString& company, const QString& product) {
    const QString state = platform::fileSystem().userStateFolder();
    if (state.isEmpty()) {
        return QString();
    }
    return state + QLatin1Char('/') + company + QLatin1Char('/') + product;
}

} // namespace clavora::online
