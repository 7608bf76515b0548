// Language files and string translation.
#include "i18n/checklanguage.h"

#include "keymap/keymapfile.h"

#include "platform/filesystem.h"
#include "platform/foldersearch.h"
#include "platform/locale.h"

#include <QStringDecoder>

#include <optional>

namespace clavora {

Q_LOGGING_CATEGORY(lcI18n, "clavora.i18n")

namespace {

const QLatin1String KLanguageSuffix(".lang.txt");
const QLatin1String KLanguagePattern("*lang.txt");
const QLatin1String KCodeTableName("LanguageCodes.csv");

struct TLanguageState {
    QString languagesFolder;
    QStringList languageFiles;
    QString currentLanguage;
    QString currentLanguageFile;
    QStringList translationLines;
};

TLanguageState& State() {
    static TLanguageState state;
    return state;
}

// Blanks and control characters (code 32 and below) count as padding in the code table and in a file name.
QStringView TrimControl(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32) {
        ++begin;
    }
    while (end > begin && text.at(end - 1).unicode() <= 32) {
        --end;
    }
    return text.mid(begin, end - begin);
}

// The table names files in any letter case of A to Z; other letters must match as written, the way the file
// names were given.
bool EqualFoldingAscii(QStringView a, QStringView b) {
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

std::optional<QString> LookUp(const QString& text, const QStringList& lines) {
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
bool KeepsPlaceholders(QStringView source, QStringView translation) {
    if (!source.contains(QLatin1Char('%'))) {
        return true;
    }
    return translation.count(QLatin1Char('%')) == source.count(QLatin1Char('%')) &&
           translation.count(u"%s") == source.count(u"%s");
}

// Decodes Bytes strictly in Encoding; nullopt when they hold an invalid sequence.
std::optional<QString> DecodeStrict(QByteArrayView bytes, QStringConverter::Encoding encoding) {
    // The caller has already taken off the byte-order mark; a second one is text.
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    // The UTF-16 decoder lets a dangling byte and unpaired surrogates through.
    if (encoding != QStringConverter::Utf8 && (bytes.size() % 2 != 0 || !text.isValidUtf16())) {
        return std::nullopt;
    }
    return text;
}

struct TBom {
    QStringConverter::Encoding encoding;
    qsizetype size;
};

std::optional<TBom> DetectBom(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        return TBom{QStringConverter::Utf8, 3};
    }
    if (bytes.startsWith("\xFF\xFE")) {
        return TBom{QStringConverter::Utf16LE, 2};
    }
    if (bytes.startsWith("\xFE\xFF")) {
        return TBom{QStringConverter::Utf16BE, 2};
    }
    return std::nullopt;
}

QString ChooseAutomatically(TLanguageState& state) {
    platform::IFileSystem& files = platform::fileSystem();
    const QString tablePath = state.languagesFolder + QLatin1Char('/') + KCodeTableName;
    if (!files.fileExists(tablePath)) {
        qCDebug(lcI18n) << "No language table" << tablePath << "- staying with English";
        return QString();
    }
    const QString code = QString::number(platform::locale().uiLanguageId());

    QByteArray bytes;
    if (const Status read = files.readFile(tablePath, bytes); !read) {
        qCWarning(lcI18n).noquote() << read.message() << "- staying with English";
        return QString();
    }
    const QString wanted = LanguageFileForCode(DecodeCodeTableText(bytes, platform::locale().ansiCodePage()), code);
    if (wanted.isEmpty()) {
        qCDebug(lcI18n) << "No language file for language identifier" << code;
        return QString();
    }
    for (const QString& name : std::as_const(state.languageFiles)) {
        if (EqualFoldingAscii(name, wanted)) {
            return name;
        }
    }
    qCInfo(lcI18n) << "Language file" << wanted << "for language identifier" << code << "is not installed";
    return QString();
}

} // namespace

const QString& LanguagesFolder() {
    return State().languagesFolder;
}
const QStringList& LanguageFiles() {
    return State().languageFiles;
}
const QString& CurrentLanguage() {
    return State().currentLanguage;
}
const QString& CurrentLanguageFile() {
    return State().currentLanguageFile;
}
const QStringList& TranslationLines() {
    return State().translationLines;
}

Status LoadLanguage(const QString& fileName) {
    TLanguageState& state = State();
    // One call per run is the rule; starting from nothing makes a second call (tests) behave like the first.
    state = TLanguageState{};

    QString programFolder = platform::fileSystem().programFolder();
    if (programFolder.endsWith(QLatin1Char('/'))) {
        programFolder.chop(1);
    }
    state.languagesFolder = programFolder + QLatin1String("/Languages");
    if (!platform::folderSearch().folderExists(state.languagesFolder)) {
        qCDebug(lcI18n) << "No languages folder" << state.languagesFolder << "- staying with English";
        return Status::success();
    }
    ListLanguageFiles(state.languagesFolder);

    QString chosen = fileName;
    if (TrimControl(fileName).isEmpty()) {
        chosen = ChooseAutomatically(state);
    } else if (fileName.contains(QLatin1Char('/'))) {
        // A name, not a path: nothing outside the languages folder is ever read as a language.
        qCWarning(lcI18n) << "Not a language file name:" << fileName;
        return Status::success();
    }
    if (chosen.isEmpty()) {
        return Status::success();
    }
    const QString path = state.languagesFolder + QLatin1Char('/') + chosen;
    if (!platform::fileSystem().fileExists(path)) {
        qCInfo(lcI18n) << "No language file" << path << "- staying with English";
        return Status::success();
    }

    state.currentLanguage = LanguageNameOf(chosen);
    state.currentLanguageFile = path;
    QStringList lines;
    const Status read = ReadLanguageLines(path, lines);
    if (!read) {
        qCWarning(lcI18n).noquote() << read.message() << "- the program stays in English";
        return read;
    }
    state.translationLines = std::move(lines);
    qCInfo(lcI18n) << "Loaded language" << state.currentLanguage << "from" << path;
    return Status::success();
}

void ListLanguageFiles(const QString& folder) {
    QList<platform::FolderEntry> entries;
    if (const Status listed = platform::folderSearch().findEntries(folder, KLanguagePattern, entries); !listed) {
        qCWarning(lcI18n).noquote() << listed.message();
        return;
    }
    for (const platform::FolderEntry& entry : std::as_const(entries)) {
        if (!entry.isDirectory) {
            State().languageFiles.append(entry.name);
        }
    }
}

QString Translate(const QString& text) {
    const TLanguageState& state = State();
    if (state.currentLanguageFile.isEmpty()) {
        return text;
    }
    const std::optional<QString> found = LookUp(text, state.translationLines);
    if (!found || found->isEmpty()) {
        return text;
    }
    if (!KeepsPlaceholders(text, *found)) {
        qCWarning(lcI18n) << "The translation of" << text << "does not keep its placeholders; using English";
        return text;
    }
    return *found;
}

QString TranslateFromList(const QString& text, const QStringList& lines) {
    const std::optional<QString> found = LookUp(text, lines);
    if (!found || !KeepsPlaceholders(text, *found)) {
        return text;
    }
    return *found;
}

QString LanguageNameOf(const QString& fileName) {
    const qsizetype at = fileName.indexOf(KLanguageSuffix);
    return at < 0 ? QString() : fileName.left(at);
}

Status ReadLanguageLines(const QString& path, QStringList& lines) {
    lines.clear();
    QByteArray bytes;
    if (Status read = platform::fileSystem().readFile(path, bytes); !read) {
        return read;
    }
    if (!DecodeLanguageText(bytes, lines)) {
        return Status::failure(QStringLiteral("The language file \"%1\" is not valid UTF-8 text.").arg(path));
    }
    return Status::success();
}

bool DecodeLanguageText(const QByteArray& bytes, QStringList& lines) {
    lines.clear();
    const std::optional<TBom> bom = DetectBom(bytes);
    const QStringConverter::Encoding encoding = bom ? bom->encoding : QStringConverter::Utf8;
    const std::optional<QString> text = DecodeStrict(QByteArrayView(bytes).sliced(bom ? bom->size : 0), encoding);
    if (!text) {
        return false;
    }
    lines = SplitTextLines(*text);
    return true;
}

QStringList DecodeCodeTableText(const QByteArray& bytes, int ansiCodePage) {
    if (const std::optional<TBom> bom = DetectBom(bytes)) {
        QStringDecoder decoder(bom->encoding, QStringConverter::Flag::ConvertInitialBom);
        return SplitTextLines(decoder.decode(QByteArrayView(bytes).sliced(bom->size)));
    }
    // The table is meant to be ASCII, where UTF-8 and every Windows code page agree; a table saved as UTF-8 by a
    // Linux editor must not be misread, so only bytes that are not UTF-8 go through the code page.
    if (const std::optional<QString> text = DecodeStrict(bytes, QStringConverter::Utf8)) {
        return SplitTextLines(*text);
    }
    QStringDecoder codePage(QByteArray("windows-") + QByteArray::number(ansiCodePage));
    if (!codePage.isValid()) {
        return SplitTextLines(QString::fromLatin1(bytes));
    }
    return SplitTextLines(codePage.decode(bytes));
}

QString LanguageFileForCode(const QStringList& tableLines, const QString& code) {
    for (const QString& line : tableLines) {
        const qsizetype comma = line.indexOf(QLatin1Char(','));
        if (comma < 0) {
            continue;
        }
        if (TrimControl(QStringView(line).left(comma)) == code) {
            return TrimControl(QStringView(line).mid(comma + 1)).toString();
        }
    }
    return QString();
}

} // namespace clavora
