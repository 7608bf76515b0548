// The key map in memory: lines cut into bindings, the exact-name lookup, and the row editing the Redefine Keys
// dialog does, with the lines that bind nothing kept in place for writing back.
#include "keymap/keymap.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

using namespace clavora;

namespace {

TEST(BindingTest, LinesAreCutAtTheFirstBar) {
    struct Case {
        QString line;
        std::optional<Binding> binding;
    };
    const Case cases[] = {
        {"a|b|c", Binding{"a", "b|c"}},
        {"|x.wav", Binding{"", "x.wav"}},
        {"F5|", Binding{"F5", ""}},
        {" F5 |x", Binding{" F5 ", "x"}},
        {"q|C:\\Sounds\\q.mp3", Binding{"q", "C:\\Sounds\\q.mp3"}},
        {"no bar here", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Binding::fromLine(c.line), c.binding) << c.line.toStdString();
        if (c.binding) {
            EXPECT_EQ(c.binding->line(), c.line);
        }
    }
}

const QStringList FileLines = {"no bar first",        "a|1",       "",        "q|one.wav", "F1|f1",
                               "another without bar", "q|two.wav", "F10|ten", "Q|upper",   "trailing"};

TEST(KeyMapTest, RowsAreTheBindingsAndEveryLineGoesBackWhereItStood) {
    const KeyMap map = KeyMap::fromLines(FileLines);
    EXPECT_EQ(map.rowCount(), 6);
    EXPECT_EQ(map.row(0), (Binding{"a", "1"}));
    EXPECT_EQ(map.row(5), (Binding{"Q", "upper"}));
    EXPECT_EQ(map.lines(), FileLines);
    EXPECT_TRUE(KeyMap::fromLines({}).lines().isEmpty());
    EXPECT_EQ(KeyMap::fromLines({"", ""}).lines(), (QStringList{"", ""}));
    EXPECT_EQ(KeyMap::fromLines({"", ""}).rowCount(), 0);
}

TEST(KeyMapTest, PathsForMatchesTheWholeNameExactly) {
    const KeyMap map = KeyMap::fromLines(
        {"q|one.wav", "Q|upper", "q|two.wav", "q |space", " q|lead", "q", "F1|f1", "F10|ten", "|empty", "q|one.wav"});
    EXPECT_EQ(map.pathsFor(u"q"), (QStringList{"one.wav", "two.wav", "one.wav"}));
    EXPECT_EQ(map.pathsFor(u"Q"), QStringList{"upper"});
    EXPECT_EQ(map.pathsFor(u"F1"), QStringList{"f1"});
    EXPECT_EQ(map.pathsFor(u"F"), QStringList{});
    EXPECT_EQ(map.pathsFor(u"f1"), QStringList{});
    EXPECT_EQ(map.pathsFor(u""), QStringList{"empty"});
    EXPECT_EQ(map.pathsFor(u"no"), QStringList{});
    // Handed out whole to be played, in the same order, each at its file's own level.
    const QList<Binding> played = map.bindingsFor(u"q");
    ASSERT_EQ(played.size(), 3);
    EXPECT_EQ(played[1], (Binding{"q", "two.wav"}));
    for (const Binding& binding : played) {
        EXPECT_EQ(binding.gain, 1.0f);
    }
    EXPECT_TRUE(map.bindingsFor(u"no").isEmpty());
}

TEST(KeyMapTest, RowEditingKeepsTheOtherLinesInPlace) {
    KeyMap map = KeyMap::fromLines(FileLines);

    map.replacePath(1, "new.wav");
    EXPECT_EQ(map.row(1), (Binding{"q", "new.wav"}));

    map.appendRow(Binding{"z", "z.wav"});
    EXPECT_EQ(map.lines(), (QStringList{"no bar first", "a|1", "", "q|new.wav", "F1|f1", "another without bar",
                                        "q|two.wav", "F10|ten", "Q|upper", "trailing", "z|z.wav"}));

    // Rows 1 to 3 (q, F1, q) go; the line that stood between them stays where they were.
    map.removeRows(1, 3);
    EXPECT_EQ(map.lines(), (QStringList{"no bar first", "a|1", "", "another without bar", "F10|ten", "Q|upper",
                                        "trailing", "z|z.wav"}));

    map.removeRows(0);
    map.removeRows(2, 5); // runs past the end: only the rows there are removed
    EXPECT_EQ(map.lines(), (QStringList{"no bar first", "", "another without bar", "F10|ten", "Q|upper", "trailing"}));
    map.removeRows(7); // no such row
    EXPECT_EQ(map.rowCount(), 2);

    map.removeLinesWithoutBinding();
    EXPECT_EQ(map.lines(), (QStringList{"F10|ten", "Q|upper"}));
    EXPECT_EQ(map.pathsFor(u"Q"), QStringList{"upper"});
}

} // namespace
