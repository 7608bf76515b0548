// The options store over settings.ini.
#include "app/settingsini.h"

#include "platform/filesystem.h"

#include <QLoggingCategory>

namespace clavora {

namespace {

Q_LOGGING_CATEGORY(lcSettings, "clavora.app")

QString folded(const QString& name) {
    return name.toCaseFolded();
}

QString withoutLineBreaks(QString value) {
    value.replace(QLatin1Char('\r'), QLatin1Char(' '));
    value.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return value;
}

} // namespace

TSettingsIni::TSettingsIni(QString fileName) : FFileName(std::move(fileName)) {}

Status TSettingsIni::load() {
    FSections.clear();
    FSectionIndex.clear();
    // Only "nothing there" means a fresh store; anything else that cannot be read is the caller's error to handle.
    if (platform::fileSystem().fileKind(FFileName) == platform::FileKind::Missing) {
        return Status::success();
    }
    QByteArray bytes;
    Status status = platform::fileSystem().readFile(FFileName, bytes);
    if (!status) {
        return status;
    }
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes.remove(0, 3);
    }
    parse(QString::fromUtf8(bytes));
    return Status::success();
}

void TSettingsIni::parse(const QString& text) {
    TSection* current = nullptr;
    qsizetype start = 0;
    const qsizetype n = text.size();
    while (start < n) {
        qsizetype end = start;
        while (end < n && text.at(end) != QLatin1Char('\r') && text.at(end) != QLatin1Char('\n')) {
            ++end;
        }
        const QString line = QStringView(text).sliced(start, end - start).trimmed().toString();
        start = end + 1;
        if (end + 1 < n && text.at(end) == QLatin1Char('\r') && text.at(end + 1) == QLatin1Char('\n')) {
            ++start;
        }

        if (line.isEmpty() || line.startsWith(QLatin1Char(';'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')) && line.size() >= 2) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            current = findSection(name);
            if (!current) {
                current = &addSection(name);
            }
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!current || equals <= 0) {
            continue;
        }
        const QString key = line.left(equals).trimmed();
        if (key.isEmpty() || current->index.contains(folded(key))) {
            continue;
        }
        current->index.insert(folded(key), current->entries.size());
        current->entries.append(TEntry{key, line.mid(equals + 1).trimmed()});
    }
}

TSettingsIni::TSection* TSettingsIni::findSection(const QString& name) {
    const auto found = FSectionIndex.constFind(folded(name));
    return found == FSectionIndex.constEnd() ? nullptr : &FSections[*found];
}

const TSettingsIni::TSection* TSettingsIni::findSection(const QString& name) const {
    const auto found = FSectionIndex.constFind(folded(name));
    return found == FSectionIndex.constEnd() ? nullptr : &FSections.at(*found);
}

TSettingsIni::TSection& TSettingsIni::addSection(const QString& name) {
    FSectionIndex.insert(folded(name), FSections.size());
    FSections.append(TSection{name, {}, {}});
    return FSections.last();
}

QString TSettingsIni::readString(const QString& section, const QString& key, const QString& defaultValue) const {
    const TSection* found = findSection(section);
    if (!found) {
        return defaultValue;
    }
    const auto entry = found->index.constFind(folded(key));
    return entry == found->index.constEnd() ? defaultValue : found->entries.at(*entry).value;
}

void TSettingsIni::writeString(const QString& section, const QString& key, const QString& value) {
    TSection* found = findSection(section);
    if (!found) {
        found = &addSection(section);
    }
    const auto entry = found->index.constFind(folded(key));
    if (entry != found->index.constEnd()) {
        found->entries[*entry].value = withoutLineBreaks(value);
        return;
    }
    found->index.insert(folded(key), found->entries.size());
    found->entries.append(TEntry{key, withoutLineBreaks(value)});
}

void TSettingsIni::deleteKey(const QString& section, const QString& key) {
    TSection* found = findSection(section);
    if (!found) {
        return;
    }
    const auto entry = found->index.constFind(folded(key));
    if (entry == found->index.constEnd()) {
        return;
    }
    found->entries.removeAt(*entry);
    found->index.clear();
    for (qsizetype i = 0; i < found->entries.size(); ++i) {
        found->index.insert(folded(found->entries.at(i).key), i);
    }
}

QByteArray TSettingsIni::toBytes() const {
    QString text;
    for (const TSection& section : FSections) {
        text += QLatin1Char('[') + section.name + QLatin1String("]\n");
        for (const TEntry& entry : section.entries) {
            text += entry.key + QLatin1Char('=') + entry.value + QLatin1Char('\n');
        }
        text += QLatin1Char('\n');
    }
    return text.toUtf8();
}

Status TSettingsIni::updateFile() const {
    return platform::fileSystem().writeFileReplacing(FFileName, toBytes());
}

TSettingsIni OpenSettingsIni(const QString& dataFolder) {
    const QString folder = dataFolder.endsWith(QLatin1Char('/')) ? dataFolder : dataFolder + QLatin1Char('/');
    TSettingsIni ini(folder + QLatin1String("settings.ini"));
    const Status first = ini.load();
    if (first) {
        return ini;
    }
    qCWarning(lcSettings).noquote() << first.message() << "- deleting it and starting from the defaults";
    platform::fileSystem().removeFile(ini.fileName());
    const Status second = ini.load();
    if (!second) {
        qCWarning(lcSettings).noquote() << second.message()
                                        << "- the options are kept in memory only until it can be written";
    }
    return ini;
}

} // namespace clavora
