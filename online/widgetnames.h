// The object names of the widgets, menu items and timers, for the code that makes them and the tests that
// look them up. No name is stored anywhere: they may change with the code.
#pragma once

namespace clavora::widgetnames::feedback {

inline constexpr char Dialog[] = "feedbackDialog";
inline constexpr char ChoicePanel[] = "choicePanel";
inline constexpr char LikeChoice[] = "likeChoice";
inline constexpr char DislikeChoice[] = "dislikeChoice";
inline constexpr char IntroLabel[] = "introLabel";
inline constexpr char QuestionLabel[] = "questionLabel";
inline constexpr char FeedbackText[] = "feedbackText";
inline constexpr char EmailPanel[] = "emailPanel";
inline constexpr char EmailLabel[] = "emailLabel";
inline constexpr char EmailField[] = "emailField";
inline constexpr char ButtonPanel[] = "buttonPanel";
inline constexpr char SendButton[] = "sendButton";
inline constexpr char InvalidEmailBox[] = "invalidEmailBox";
inline constexpr char SuccessBox[] = "successBox";
inline constexpr char FailureBox[] = "failureBox";

} // namespace clavora::widgetnames::feedback

namespace clavora::widgetnames::updatenotice {

inline constexpr char Notice[] = "updateNotice";
inline constexpr char Frame[] = "frame";
inline constexpr char Icon[] = "icon";
inline constexpr char ClosePanel[] = "closePanel";
inline constexpr char CloseButton[] = "closeButton";
inline constexpr char TextPanel[] = "textPanel";
inline constexpr char TitleLabel[] = "titleLabel";
inline constexpr char DownloadLink[] = "downloadLink";
inline constexpr char OpenTimer[] = "openTimer";
inline constexpr char CloseTimer[] = "closeTimer";
inline constexpr char LinkTimer[] = "linkTimer";

} // namespace clavora::widgetnames::updatenotice

namespace clavora::widgetnames::updates {

inline constexpr char Checker[] = "updateChecker";
inline constexpr char CheckTimer[] = "checkTimer";
inline constexpr char ImportantMessage[] = "importantMessage";
inline constexpr char Ui[] = "updateCheckUi";

} // namespace clavora::widgetnames::updates
