// The file-name pattern rule of the program; the same on every system.
#include "platform/foldersearch.h"

namespace clavora::platform {

namespace {

QChar foldedAt(QStringView text, qsizetype i) {
    return text.at(i).toCaseFolded();
}

} // namespace

bool matchesFileNamePattern(QStringView name, QStringView pattern) {
    // Iterative matcher with one backtrack point: the last "*" seen and where in Name it started to match, which is
    // enough for "*" patterns and keeps the work linear in practice.
    qsizetype n = 0;
    qsizetype p = 0;
    qsizetype starAt = -1;
    qsizetype starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern.at(p) == QLatin1Char('*')) {
            starAt = p++;
            starName = n;
        } else if (p < pattern.size() &&
                   (pattern.at(p) == QLatin1Char('?') || foldedAt(pattern, p) == foldedAt(name, n))) {
            ++p;
            ++n;
        } else if (starAt >= 0) {
            p = starAt + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern.at(p) == QLatin1Char('*')) {
        ++p;
    }
    return p == pattern.size();
}

} // namespace clavora::platform
