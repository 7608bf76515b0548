// Language files and string translation.
#include "i18n/translator.h"

#include "i18n/languagechoice.h"
#include "i18n/textcodec.h"

#include "platform/filesystem.h"
#include "platform/foldersearch.h"
#include "platform/locale.h"

#include <optional>

namespace clavora {

Q_LOGGING_CATEGORY(lcI18n, "clavora.i18n")

namespace {

const QLatin1String LanguageSuffix(".lang.txt");
const QLatin1String LanguagePattern("*lang.txt");
const QLatin1String CodeTableName("LanguageCodes.csv");

// The table names files in any letter case of A to Z; other letters must match as written, the way the file
// names were given.
bool equalFoldingAscii(QStringView a, QStringView b) {
    if (a.size() != b.size()) {
        return false;
    }
    auto fold = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c; };
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (fold(a.at(i).unicode()) != fold(b.at(i).unicode())) {
            return false;
        }
    }
    return true;
}

std::optional<QString> lookUp(const QString& text, const QStringList& lines) {
    const QString key = QLatin1Char('{') + text + QLatin1Char('}');
    for (const QString& line : lines) {
        if (line.startsWith(key)) {
            // Right after the key, which for texts without a "}" is the line's first "}"; the translation itself
            // may hold any characters.
            return line.mid(key.size());
        }
    }
    return std::nullopt;
}

// Callers use a source text with "%s" in it as a format. A translation that lost the placeholder, doubled it or
// brought in another "%" would make that formatting go wrong, so it is not used.
bool keepsPlaceholders(QStringView source, QStringView translation) {
    if (!source.contains(QLatin1Char('%'))) {
        return true;
    }
    return translation.count(QLatin1Char('%')) == source.count(QLatin1Char('%')) &&
           translation.count(u"%s") == source.count(u"%s");
}

} // namespace

QString Translator::chooseAutomatically() const {
    platform::IFileSystem& files = m_services->fileSystem();
    const QString tablePath = m_languagesFolder + QLatin1Char('/') + CodeTableName;
    if (!files.fileExists(tablePath)) {
        qCDebug(lcI18n) << "No language table" << tablePath << "- staying with English";
        return QString();
    }
    const QString code = QString::number(m_services->locale().uiLanguageId());

    QByteArray bytes;
    if (const Status read = files.readFile(tablePath, bytes); !read) {
        qCWarning(lcI18n).noquote() << read.message() << "- staying with English";
        return QString();
    }
    const QStringList table = text::splitLines(text::decodeWithFallback(bytes, m_services->locale().ansiCodePage()));
    const QString wanted = languageFileForCode(table, code);
    if (wanted.isEmpty()) {
        qCDebug(lcI18n) << "No language file for language identifier" << code;
        return QString();
    }
    for (const QString& name : m_languageFiles) {
        if (equalFoldingAscii(name, wanted)) {
            return name;
        }
    }
    qCInfo(lcI18n) << "Language file" << wanted << "for language identifier" << code << "is not installed";
    return QString();
}

Status Translator::loadLanguage(const QString& fileName) {
    return load(fileName, false);
}

Status Translator::loadPreferredLanguage(const QString& stored) {
    if (m_services == nullptr) {
        return Status::failure(QStringLiteral("No language can be loaded here."));
    }
    // The listing decides whether the stored language is still installed; load() lists again for itself.
    QString programFolder = m_services->fileSystem().programFolder();
    if (programFolder.endsWith(QLatin1Char('/'))) {
        programFolder.chop(1);
    }
    const QString folder = programFolder + QLatin1String("/Languages");
    platform::IFolderSearch& folders = m_services->folderSearch();
    const QStringList files = folders.folderExists(folder) ? listLanguageFiles(folders, folder) : QStringList();
    const PreferredLanguage preferred = preferredLanguage(stored, files);
    switch (preferred.kind) {
    case PreferredLanguage::Kind::English:
        qCInfo(lcI18n) << "Staying with English, as chosen";
        return load(QString(), true);
    case PreferredLanguage::Kind::File:
        return load(preferred.fileName, false);
    case PreferredLanguage::Kind::Automatic:
        break;
    }
    if (!stored.trimmed().isEmpty()) {
        qCInfo(lcI18n) << "The chosen language" << stored << "is not installed; choosing automatically";
    }
    return load(QString(), false);
}

Status Translator::load(const QString& fileName, bool english) {
    if (m_services == nullptr) {
        return Status::failure(QStringLiteral("No language can be loaded here."));
    }
    *this = Translator(*m_services);

    QString programFolder = m_services->fileSystem().programFolder();
    if (programFolder.endsWith(QLatin1Char('/'))) {
        programFolder.chop(1);
    }
    m_languagesFolder = programFolder + QLatin1String("/Languages");
    if (!m_services->folderSearch().folderExists(m_languagesFolder)) {
        qCDebug(lcI18n) << "No languages folder" << m_languagesFolder << "- staying with English";
        return Status::success();
    }
    m_languageFiles = listLanguageFiles(m_services->folderSearch(), m_languagesFolder);
    if (english) {
        return Status::success();
    }

    QString chosen = fileName;
    if (text::trimBlanksAndControls(QStringView(fileName)).isEmpty()) {
        chosen = chooseAutomatically();
    } else if (fileName.contains(QLatin1Char('/'))) {
        // A name, not a path: nothing outside the languages folder is ever read as a language.
        qCWarning(lcI18n) << "Not a language file name:" << fileName;
        return Status::success();
    }
    if (chosen.isEmpty()) {
        return Status::success();
    }
    const QString path = m_languagesFolder + QLatin1Char('/') + chosen;
    if (!m_services->fileSystem().fileExists(path)) {
        qCInfo(lcI18n) << "No language file" << path << "- staying with English";
        return Status::success();
    }

    m_currentLanguage = languageNameOf(chosen);
    m_currentLanguageFile = path;
    QStringList lines;
    const Status read = readLanguageLines(m_services->fileSystem(), path, lines);
    if (!read) {
        qCWarning(lcI18n).noquote() << read.message() << "- the program stays in English";
        return read;
    }
    m_translationLines = std::move(lines);
    qCInfo(lcI18n) << "Loaded language" << m_currentLanguage << "from" << path;
    return Status::success();
}

QString Translator::translate(const QString& text) const {
    if (m_currentLanguageFile.isEmpty()) {
        return text;
    }
    const std::optional<QString> found = lookUp(text, m_translationLines);
    if (!found || found->isEmpty()) {
        return text;
    }
    if (!keepsPlaceholders(text, *found)) {
        qCWarning(lcI18n) << "The translation of" << text << "does not keep its placeholders; using English";
        return text;
    }
    return *found;
}

QString translateFromList(const QString& text, const QStringList& lines) {
    const std::optional<QString> found = lookUp(text, lines);
    if (!found || !keepsPlaceholders(text, *found)) {
        return text;
    }
    return *found;
}

QStringList listLanguageFiles(platform::IFolderSearch& folders, const QString& folder) {
    QStringList names;
    QList<platform::FolderEntry> entries;
    if (const Status listed = folders.findEntries(folder, LanguagePattern, entries); !listed) {
        qCWarning(lcI18n).noquote() << listed.message();
        return names;
    }
    for (const platform::FolderEntry& entry : std::as_const(entries)) {
        if (!entry.isDirectory) {
            names.append(entry.name);
        }
    }
    return names;
}

QString languageNameOf(const QString& fileName) {
    const qsizetype at = fileName.indexOf(LanguageSuffix);
    return at < 0 ? QString() : fileName.left(at);
}

Status readLanguageLines(platform::IFileSystem& files, const QString& path, QStringList& lines) {
    lines.clear();
    QByteArray bytes;
    if (Status read = files.readFile(path, bytes); !read) {
        return read;
    }
    const std::optional<QString> decoded = text::decodeUnicode(bytes);
    if (!decoded) {
        return Status::failure(QStringLiteral("The language file \"%1\" is not valid UTF-8 text.").arg(path));
    }
    lines = text::splitLines(*decoded);
    return Status::success();
}

QString languageFileForCode(const QStringList& tableLines, const QString& code) {
    for (const QString& line : tableLines) {
        const qsizetype comma = line.indexOf(QLatin1Char(','));
        if (comma < 0) {
            continue;
        }
        if (text::trimBlanksAndControls(QStringView(line).left(comma)) == code) {
            return text::trimBlanksAndControls(QStringView(line).mid(comma + 1)).toString();
        }
    }
    return QString();
}

} // namespace clavora
