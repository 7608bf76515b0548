// The key map file: the written form, completion of the default bindings and the start-up load.
#include "keymap/keymapfile.h"

#include "i18n/textcodec.h"
#include "platform/filesystem.h"
#include "platform/locale.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <optional>

namespace clavora {

Q_LOGGING_CATEGORY(lcKeyMap, "clavora.keymap")

const QStringList DefaultBindings = {
    QStringLiteral("F1|Sounds\\11.mp3"),  QStringLiteral("F2|Sounds\\12.mp3"),  QStringLiteral("F3|Sounds\\13.mp3"),
    QStringLiteral("F4|Sounds\\14.mp3"),  QStringLiteral("F5|Sounds\\15.mp3"),  QStringLiteral("F6|Sounds\\16.mp3"),
    QStringLiteral("F7|Sounds\\17.mp3"),  QStringLiteral("F8|Sounds\\18.mp3"),  QStringLiteral("F9|Sounds\\19.mp3"),
    QStringLiteral("F10|Sounds\\20.mp3"), QStringLiteral("F11|Sounds\\21.mp3"), QStringLiteral("F12|Sounds\\22.mp3"),
};

namespace {

const char KeysDbName[] = "keys.db";

QString withTrailingSlash(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

} // namespace

QByteArray encodeKeyMapText(const QStringList& lines) {
    QByteArray bytes(text::Utf8Bom);
    for (const QString& line : lines) {
        bytes += line.toUtf8();
        bytes += "\r\n";
    }
    return bytes;
}

Status KeyMapFile::read(const QString& fileName, QStringList& lines) const {
    QByteArray bytes;
    Status status = m_files->readFile(fileName, bytes);
    if (!status) {
        return status;
    }
    lines = text::splitLines(text::decodeWithFallback(bytes, m_locale->ansiCodePage()));
    return Status::success();
}

Status KeyMapFile::write(const QString& fileName, const QStringList& lines) const {
    // The file has no escaping: a line break inside a binding (a file name may hold one) would come back as two
    // broken lines, so such a map is refused whole and the old file stays.
    for (const QString& line : lines) {
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))) {
            return Status::failure(QStringLiteral("Cannot create file \"%1\". The binding \"%2\" holds a line break.")
                                       .arg(fileName, line.simplified()));
        }
    }
    return m_files->writeFileReplacing(fileName, encodeKeyMapText(lines));
}

QStringList missingDefaultBindings(const QStringList& lines) {
    QStringList missing;
    for (int n = 1; n <= DefaultBindings.size(); ++n) {
        const QString prefix = QLatin1Char('F') + QString::number(n) + QLatin1Char('|');
        bool present = false;
        for (const QString& line : lines) {
            if (line.startsWith(prefix, Qt::CaseInsensitive)) {
                present = true;
                break;
            }
        }
        if (!present) {
            missing.append(DefaultBindings.at(n - 1));
        }
    }
    return missing;
}

Status KeyMapFile::completeDefaultBindings(const QString& fileName) const {
    QStringList lines;
    if (m_files->fileExists(fileName)) {
        // Writing after a failed read would put the defaults in place of the user's bindings.
        Status status = read(fileName, lines);
        if (!status) {
            return status;
        }
    }
    const QStringList missing = missingDefaultBindings(lines);
    if (missing.isEmpty()) {
        return Status::success();
    }
    lines += missing;
    return write(fileName, lines);
}

Status KeyMapFile::load(const QString& dataFolder, const QString& programFolder, KeyMap& keyMap) const {
    platform::IFileSystem& fileSystem = *m_files;
    keyMap = KeyMap();
    const QString target = withTrailingSlash(dataFolder) + QLatin1String(KeysDbName);
    Status outcome = Status::success();
    auto note = [&outcome](const Status& status) {
        if (!status) {
            qCWarning(lcKeyMap).noquote() << status.message();
            if (outcome) {
                outcome = status;
            }
        }
    };

    if (fileSystem.fileExists(target)) {
        // A file that cannot be rewritten is still loaded as it is; the defaults come back at a later start.
        note(completeDefaultBindings(target));
    } else {
        const QString seed = withTrailingSlash(programFolder) + QLatin1String(KeysDbName);
        if (fileSystem.fileExists(seed)) {
            if (!fileSystem.copyFileNoOverwrite(seed, target)) {
                // The bindings installed with the program still work for this run.
                note(Status::failure(
                    QStringLiteral("Cannot copy \"%1\" to \"%2\"; using the bindings of \"%1\".").arg(seed, target)));
                QStringList lines;
                note(read(seed, lines));
                keyMap = KeyMap::fromLines(lines);
                return outcome;
            }
        } else {
            Status created = completeDefaultBindings(target);
            if (!created) {
                note(created);
                keyMap = KeyMap::fromLines(DefaultBindings);
                return outcome;
            }
        }
    }

    QStringList lines;
    note(read(target, lines));
    keyMap = KeyMap::fromLines(lines);
    note(loadVolumes(withTrailingSlash(dataFolder) + QLatin1String(VolumesFileName), keyMap));
    return outcome;
}

Status KeyMapFile::save(const QString& fileName, const KeyMap& keyMap) const {
    // A volume written for a binding that keys.db then fails to take binds nothing, and so is harmless.
    if (Status volumes = saveVolumes(volumesFileFor(fileName), keyMap); !volumes) {
        return volumes;
    }
    return write(fileName, keyMap.lines());
}

int volumePercentOf(float gain) {
    return std::clamp(int(std::lround(double(gain) * 100.0)), 0, MaxBindingVolume);
}

float gainOfVolume(int percent) {
    return float(std::clamp(percent, 0, MaxBindingVolume)) / 100.0f;
}

QString volumesFileFor(const QString& fileName) {
    const qsizetype slash = std::max(fileName.lastIndexOf(QLatin1Char('/')), fileName.lastIndexOf(QLatin1Char('\\')));
    return fileName.left(slash + 1) + QLatin1String(VolumesFileName);
}

namespace {

const QString SectionPrefix = QStringLiteral("Binding");
const QString KeyEntry = QStringLiteral("Key");
const QString PathEntry = QStringLiteral("Path");
const QString VolumeEntry = QStringLiteral("Volume");

// A binding's key and path, one string: the key cannot hold a bar of its own, the path may.
QString volumeKey(const QString& key, const QString& path) {
    return key + QLatin1Char('|') + path;
}

} // namespace

Status KeyMapFile::loadVolumes(const QString& volumesFile, KeyMap& keyMap) const {
    if (!m_files->fileExists(volumesFile)) {
        return Status::success();
    }
    QStringList lines;
    if (Status status = read(volumesFile, lines); !status) {
        return status;
    }
    // Every entry is "Name=value", the value as it stands to the end of the line: a key may be a space.
    QHash<QString, int> volumes;
    struct Section {
        QString key, path;
        std::optional<int> volume;
        bool hasKey = false, hasPath = false;
    } section;
    const auto take = [&volumes](const Section& done) {
        if (done.hasKey && done.hasPath && done.volume) {
            volumes.insert(volumeKey(done.key, done.path), *done.volume);
        }
    };
    for (const QString& line : std::as_const(lines)) {
        if (line.trimmed().startsWith(QLatin1Char('['))) {
            take(section);
            section = Section();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) {
            continue;
        }
        const QString name = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1);
        if (name == KeyEntry) {
            section.key = value;
            section.hasKey = true;
        } else if (name == PathEntry) {
            section.path = value;
            section.hasPath = true;
        } else if (name == VolumeEntry) {
            bool ok = false;
            const int percent = value.trimmed().toInt(&ok);
            section.volume =
                ok && percent >= 0 && percent <= MaxBindingVolume ? std::optional<int>(percent) : std::nullopt;
        }
    }
    take(section);
    for (qsizetype row = 0; row < keyMap.rowCount(); ++row) {
        const Binding& binding = keyMap.row(row);
        keyMap.setGain(row, gainOfVolume(volumes.value(volumeKey(binding.key, binding.path), 100)));
    }
    return Status::success();
}

Status KeyMapFile::saveVolumes(const QString& volumesFile, const KeyMap& keyMap) const {
    QStringList lines;
    QSet<QString> written;
    int section = 0;
    for (const Binding& binding : keyMap.rows()) {
        const int percent = volumePercentOf(binding.gain);
        const QString key = volumeKey(binding.key, binding.path);
        if (percent == 100 || written.contains(key)) {
            continue;
        }
        written.insert(key);
        lines << QLatin1Char('[') + SectionPrefix + QString::number(++section) + QLatin1Char(']')
              << KeyEntry + QLatin1Char('=') + binding.key << PathEntry + QLatin1Char('=') + binding.path
              << VolumeEntry + QLatin1Char('=') + QString::number(percent) << QString();
    }
    if (lines.isEmpty() && !m_files->fileExists(volumesFile)) {
        return Status::success();
    }
    return write(volumesFile, lines);
}

} // namespace clavora
