// The update check: once per run, ask the maker's server which version is current, remember the answer, and decide
// whether the user is told about an update. The decisions are pure functions; runUpdateCheck does one whole check
// through the seams in CheckServices, on whatever thread calls it.
#pragma once

#include "online/checkstore.h"
#include "online/clientidentity.h"
#include "online/serverrequest.h"
#include "platform/services.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <functional>

namespace clavora::online {

// Everything the check needs from the program, copied once at start-up: the worker thread reads only this copy.
struct UpdateCheckContext {
    QString companyName;       // e.g. "Zemtrak"
    QString productName;       // e.g. "Clavora"
    QString appTitle;          // companyName + " - " + productName; the "appname=" field
    QString appVersion;        // "major.minor"; the "version=" field
    QString webHost;           // the maker's host, may carry ":port"
    QString storeFolder;       // folder of the check store; see checkStoreFolder
    QString localeName;        // "en-US", "xx" when unknown; taken at start-up
    QString dateFormat;        // the user's short date format (Qt notation), taken at start-up
    QString caFile;            // authorities for HTTPS in PEM; empty: the system's store (tests hand their own)
    int timeoutMs = 10000;     // of each of the two attempts
    int pollIntervalMs = 1000; // of the main window's check timer (the benchmark shortens it)
    // Today's date; the system clock unless a test sets a fake one. Called on the worker thread.
    std::function<QDate()> today;
    // What the worker thread reads the store through and takes the machine's identity from; both safe on any thread.
    platform::IFileSystem* files = nullptr;
    platform::ISystemInfo* systemInfo = nullptr;
};

// The context of this program run: identity strings, web host, store folder, locale, date format. GUI thread.
UpdateCheckContext makeUpdateCheckContext(platform::Services& services, const QString& companyName,
                                          const QString& productName, const QString& appVersion);

// The check's error log. A message that is blank after trimming logs nothing.
class CheckLog {
public:
    void log(const QString& message);
    void clear();
    bool failed() const { return m_failed; }
    const QString& text() const { return m_text; } // messages joined by two CR characters
private:
    QString m_text;
    bool m_failed = false;
};

// Messages of the log.
namespace checkmessage {
inline constexpr char GuidProblem[] = "Error: GUID generate problem!";
inline constexpr char StoreOpenProblem[] = "Error: Registry open problem!";
inline constexpr char LocaleProblem[] = "Error: LocaleName2 problem!";
inline constexpr char InvalidReply[] = "INVALIDSERVERRESPONSE";
} // namespace checkmessage

// Step one of a start: the start counter of the running version. A stored count belongs to StoredVersion; another
// version (the first run included, where nothing is stored) starts counting again. Negative counts read as 0.
int nextStartCount(int storedCount, const QString& storedVersion, const QString& appVersion);

// Whether a start may ask the server today, and the day's count it becomes. At most five requests per date text.
struct DayAllowance {
    bool send = false;
    int count = 0; // the day's check count to store when sending
};
DayAllowance dayAllowance(const QString& lastCheckDate, int lastCheckCount, const QString& today);

// Whether the notice is due: the server's version differs from ours as text (older ones count too, there is no
// ordering), reads as a 32-bit integer once its points are removed, notifications are on, and this is one of the
// first three checks of the day (or the first on a new date).
bool isUpdateNoticeDue(const QString& serverVersion, const QString& appVersion, int showUpdate,
                       const QString& lastCheckDate, const QString& today, int dayCount);

// The lines of a check reply that matter.
struct CheckReply {
    bool startsWithError = false; // the reply starts with "ERROR"
    QString result;               // line 4, "<result>"; must be "0" or "1"
    QString version;              // line 1, "<version>"
    QString url;                  // line 2, "<url>"
    QString important;            // line 6, "<important>"
};
CheckReply parseCheckReply(const QString& reply);

// Server text made fit to show or store: cut to MaxLength characters, control characters (line breaks too) turned
// into blanks.
QString cleanServerText(const QString& text, qsizetype maxLength);

// True when Url is an https address on the host of WebHost (ports aside), letter case ignored.
bool isMakerHttpsUrl(const QString& url, const QString& webHost);
inline constexpr qsizetype MaxVersionLength = 64;
inline constexpr qsizetype MaxUrlLength = 2048;
inline constexpr qsizetype MaxMessageLength = 1000;

// What a finished check leaves for the main window.
struct CheckResult {
    bool noticeDue = false;
    QString serverVersion; // cleaned, as shown and stored
    QString downloadUrl;   // cleaned, as opened and stored
    int showUpdate = 1;    // the stored ShowUpdate as the check read it
    int startCount = 0;    // HowMany after this run's increment
    bool requestSent = false;
    CheckLog log;
};

// The seams of one check. Post is postForm in the program; ShowImportant shows the server's message to the user and
// returns once it is closed; Cancelled is asked between steps, and a cancelled check stops where it is.
struct CheckServices {
    ICheckStore* store = nullptr;
    std::function<PostResult(const QString& url, const FormFields& fields, int timeoutMs)> post;
    std::function<InstallationId()> installationId;
    std::function<QString()> osDescription;
    std::function<void(const QString& message)> showImportant;
    std::function<bool()> cancelled;
};

// One whole check (the worker's body). Returns what the main window needs; the store holds the rest.
CheckResult runUpdateCheck(const UpdateCheckContext& context, const CheckServices& services);

// Today's date as the check compares it: Today formatted with the user's short date format.
QString dateText(const QDate& today, const QString& dateFormat);

} // namespace clavora::online
