// The feedback message and its checks.
#include "online/feedback.h"

#include "i18n/textcodec.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <memory>

namespace clavora::online {

namespace {

struct CodeDeleter {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataDeleter {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
using Code = std::unique_ptr<pcre2_code, CodeDeleter>;
using MatchData = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;

// The expression the maker's server side expects addresses to pass; kept exactly, quirks included (a "." may follow
// the "@" part only once a letter or digit came before it, and the last character is never a dot or a dash).
const char16_t EmailPattern[] = u"^[a-zA-Z0-9_.+-]+@[a-zA-Z0-9-]+\\.[a-zA-Z0-9-.]*[a-zA-Z0-9]+$";

Code compileEmailPattern() {
    int error = 0;
    PCRE2_SIZE offset = 0;
    // UTF mode so a surrogate pair counts as one character that no class of the pattern holds; "$" only at the very
    // end, since by default it also matches before a final line break, which is no part of an address.
    Code code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(EmailPattern), PCRE2_ZERO_TERMINATED,
                            PCRE2_UTF | PCRE2_DOLLAR_ENDONLY, &error, &offset, nullptr));
    if (!code) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(error, message, sizeof message / sizeof message[0]);
        qCCritical(lcOnline) << "The e-mail pattern does not compile:"
                             << QString::fromUtf16(reinterpret_cast<const char16_t*>(message));
    }
    return code;
}

} // namespace

QString choiceText(const QString& english, const QString& shown) {
    if (shown == english) {
        return english;
    }
    return english + QLatin1String(" (") + shown + QLatin1Char(')');
}

QString buildFeedbackMessage(const FeedbackChoice& like, const FeedbackChoice& dislike, const QString& text) {
    QString message;
    if (like.selected) {
        message += choiceText(LikeText, like.shownCaption) + QLatin1Char('\r');
    }
    if (dislike.selected) {
        message += choiceText(DislikeText, dislike.shownCaption) + QLatin1Char('\r');
    }
    return message + text::trimBlanksAndControls(text);
}

FormFields feedbackFields(const QString& appTitle, const QString& appVersion, const QString& message,
                          const QString& email) {
    FormFields fields{{QStringLiteral("cmd"), QStringLiteral("feedback")},
                      {QStringLiteral("appname"), appTitle},
                      {QStringLiteral("version"), appVersion},
                      {QStringLiteral("feedback"), message}};
    if (!email.isEmpty()) {
        fields.append({QStringLiteral("email"), email});
    }
    return fields;
}

bool isFeedbackDelivered(const QString& reply) {
    return text::trimBlanksAndControls(reply) == QLatin1String("OK");
}

bool isValidEmail(const QString& address) {
    // Compiled once; pcre2_match only reads the code, so any thread may match against it.
    static const Code code = compileEmailPattern();
    if (!code || address.isEmpty()) {
        return false;
    }
    MatchData match(pcre2_match_data_create_from_pattern(code.get(), nullptr));
    if (!match) {
        return false;
    }
    // An unpaired surrogate is no valid UTF-16; such an address is no address.
    const int result = pcre2_match(code.get(), reinterpret_cast<PCRE2_SPTR>(address.utf16()),
                                   PCRE2_SIZE(address.size()), 0, PCRE2_NOTEMPTY, match.get(), nullptr);
    return result >= 0;
}

} // namespace clavora::online
