// Where a key binding's sound file is looked for.
#include "audio/soundpath.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSet>

using clavora::audio::resolveSoundPath;

namespace {

TEST(SoundPathTest, StoredPathsAreFoundAsAUserExpects) {
    const QSet<QString> files{QStringLiteral("/cur/Sounds/a.mp3"), QStringLiteral("/prog/Sounds/a.mp3"),
                              QStringLiteral("/prog/Sounds/b.mp3"), QStringLiteral("/abs/c.wav"),
                              QStringLiteral("/prog/d.wav")};
    auto isFile = [&files](const QString& path) { return files.contains(QDir::cleanPath(path)); };
    struct Case {
        const char* stored;
        const char* expected;
    };
    const Case cases[] = {
        {"Sounds\\a.mp3", "/cur/Sounds/a.mp3"},  // the current folder wins
        {"Sounds/a.mp3", "/cur/Sounds/a.mp3"},   //
        {"Sounds\\b.mp3", "/prog/Sounds/b.mp3"}, // then the program folder
        {"d.wav", "/prog/d.wav"},                //
        {"/abs/c.wav", "/abs/c.wav"},            // absolute paths are used as they are
        {"\\abs\\c.wav", "/abs/c.wav"},          //
        {"/abs/d.wav", ""},                      // never rebased
        {"Sounds\\zz.mp3", ""},                  //
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(QDir::cleanPath(resolveSoundPath(QString::fromUtf8(c.stored), QStringLiteral("/cur"),
                                                   QStringLiteral("/prog"), isFile)),
                  QDir::cleanPath(QString::fromUtf8(c.expected)))
            << c.stored;
    }
}

} // namespace
