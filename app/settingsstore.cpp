// The options store over settings.ini.
#include "app/settingsstore.h"

#include "app/identity.h"
#include "platform/filesystem.h"

#include <QLoggingCategory>

namespace clavora {

namespace {

QString folded(const QString& name) {
    return name.toCaseFolded();
}

QString withoutLineBreaks(QString value) {
    value.replace(QLatin1Char('\r'), QLatin1Char(' '));
    value.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return value;
}

} // namespace

SettingsStore::SettingsStore(platform::IFileSystem& files, QString fileName)
    : m_files(&files), m_fileName(std::move(fileName)) {}

Status SettingsStore::load() {
    m_sections.clear();
    m_sectionIndex.clear();
    // Only "nothing there" means a fresh store; anything else that cannot be read is the caller's error to handle.
    // A link to a file not made yet is a fresh store too: the first write creates the target and the link stays.
    const platform::FileKind kind = m_files->fileKind(m_fileName);
    if (kind == platform::FileKind::Missing || kind == platform::FileKind::DanglingLink) {
        return Status::success();
    }
    QByteArray bytes;
    Status status = m_files->readFile(m_fileName, bytes);
    if (!status) {
        return status;
    }
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes.remove(0, 3);
    }
    parse(QString::fromUtf8(bytes));
    return Status::success();
}

void SettingsStore::parse(const QString& text) {
    Section* current = nullptr;
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
        current->entries.append(Entry{key, line.mid(equals + 1).trimmed()});
    }
}

SettingsStore::Section* SettingsStore::findSection(const QString& name) {
    const auto found = m_sectionIndex.constFind(folded(name));
    return found == m_sectionIndex.constEnd() ? nullptr : &m_sections[*found];
}

const SettingsStore::Section* SettingsStore::findSection(const QString& name) const {
    const auto found = m_sectionIndex.constFind(folded(name));
    return found == m_sectionIndex.constEnd() ? nullptr : &m_sections.at(*found);
}

SettingsStore::Section& SettingsStore::addSection(const QString& name) {
    m_sectionIndex.insert(folded(name), m_sections.size());
    m_sections.append(Section{name, {}, {}});
    return m_sections.last();
}

QString SettingsStore::readString(const QString& section, const QString& key, const QString& defaultValue) const {
    const Section* found = findSection(section);
    if (!found) {
        return defaultValue;
    }
    const auto entry = found->index.constFind(folded(key));
    return entry == found->index.constEnd() ? defaultValue : found->entries.at(*entry).value;
}

void SettingsStore::writeString(const QString& section, const QString& key, const QString& value) {
    Section* found = findSection(section);
    if (!found) {
        found = &addSection(section);
    }
    const auto entry = found->index.constFind(folded(key));
    if (entry != found->index.constEnd()) {
        found->entries[*entry].value = withoutLineBreaks(value);
        return;
    }
    found->index.insert(folded(key), found->entries.size());
    found->entries.append(Entry{key, withoutLineBreaks(value)});
}

void SettingsStore::deleteKey(const QString& section, const QString& key) {
    Section* found = findSection(section);
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

QByteArray SettingsStore::toBytes() const {
    QString text;
    for (const Section& section : m_sections) {
        text += QLatin1Char('[') + section.name + QLatin1String("]\n");
        for (const Entry& entry : section.entries) {
            text += entry.key + QLatin1Char('=') + entry.value + QLatin1Char('\n');
        }
        text += QLatin1Char('\n');
    }
    return text.toUtf8();
}

Status SettingsStore::updateFile() const {
    return m_files->writeFileReplacing(m_fileName, toBytes());
}

SettingsStore openSettingsStore(platform::IFileSystem& files, const QString& dataFolder) {
    const QString folder = dataFolder.endsWith(QLatin1Char('/')) ? dataFolder : dataFolder + QLatin1Char('/');
    SettingsStore ini(files, folder + QLatin1String("settings.ini"));
    const Status first = ini.load();
    if (first) {
        return ini;
    }
    qCWarning(lcApp).noquote() << first.message() << "- deleting it and starting from the defaults";
    files.removeFile(ini.fileName());
    const Status second = ini.load();
    if (!second) {
        qCWarning(lcApp).noquote() << second.message()
                                   << "- the options are kept in memory only until it can be written";
    }
    return ini;
}

} // namespace clavora
