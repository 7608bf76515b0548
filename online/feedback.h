// The feedback message and its checks: what the feedback dialog sends to the maker's server and how it reads the
// reply. Pure functions, Qt Core only, so the dialog's decisions are tested without a window or a network.
#pragma once

#include "online/serverrequest.h"

#include <QString>

namespace clavora::online {

// The English captions of the two choice panels; the server always receives these words.
inline const QString LikeText = QStringLiteral("I like it!");
inline const QString DislikeText = QStringLiteral("I dislike it!");

// The most the dialog lets the user type.
inline constexpr int MaxFeedbackLength = 10000;
inline constexpr int MaxEmailLength = 100;
// Of each of the two attempts (HTTPS, then plain HTTP).
inline constexpr int FeedbackTimeoutMs = 3000;

// English, or English + " (" + Shown + ")" when the caption the user saw (its translation) differs from it.
QString choiceText(const QString& english, const QString& shown);

// One choice panel as the message builder sees it.
struct FeedbackChoice {
    bool selected = false;
    QString shownCaption; // the panel's caption, translated
};

// The "feedback=" value: the like text and a CR when Like is selected, the dislike text and a CR when Dislike is,
// then Text trimmed of blanks and control characters.
QString buildFeedbackMessage(const FeedbackChoice& like, const FeedbackChoice& dislike, const QString& text);

// The request's fields in their order; "email=" only when Email is not empty.
FormFields feedbackFields(const QString& appTitle, const QString& appVersion, const QString& message,
                          const QString& email);

// The server took the feedback: its reply, trimmed of blanks and line breaks, is exactly "OK".
bool isFeedbackDelivered(const QString& reply);

// True when the whole of Address matches ^[a-zA-Z0-9_.+-]+@[a-zA-Z0-9-]+\.[a-zA-Z0-9-.]*[a-zA-Z0-9]+$ (letter
// case as written). An empty address is no match.
bool isValidEmail(const QString& address);

} // namespace clavora::online
