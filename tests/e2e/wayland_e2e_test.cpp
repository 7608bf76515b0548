// The program natively on a Wayland compositor, with no X display at all.
#include "tests/support/waylandrig.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace clavora::test;

namespace {

const QString Title = QStringLiteral("Zemtrak - Clavora");

class WaylandE2E : public WaylandProgramTest {};

TEST_F(WaylandE2E, MainWindowOpensOnTheCompositor) {
    auto run = makeRun();
    ASSERT_TRUE(run->start());
    WaylandWindow window;
    ASSERT_TRUE(waitForWindow(*run, Title, &window)) << run->output().toStdString();
    EXPECT_TRUE(run->isRunning());
    EXPECT_GT(window.rect.width(), 0);
}

} // namespace
