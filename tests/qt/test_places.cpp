// Where the program's windows appear: the Processing window of each run
// where the user left the one before, and a run's end that refreshes an
// open Spectra window without taking the keys from the main window (that
// it is not raised either, the display test sees on a real screen).
#include "ui/qt/spectra_dlg.h"
#include "window_fixture.h"

namespace vesk::testing {
namespace {

using Places = WindowTest;

TEST_F(Places, EachRunsProcessingWindowOpensWhereTheUserLeftTheLastAndSpectraDoesNotTakeTheKeys)
{
    type("inpwavnameEdit", writeInput("in.wav", 2, 4800));
    type("outwavnameEdit", dir.file("out.wav"));
    std::vector<QPoint> places; // the Processing window's at each run's first hand-over
    int run = 0;
    toolkit.afterHandOver = [&] {
        ProcinfoWindow* w = dlg->procinfo().window();
        if (w && places.size() == std::size_t(run)) {
            places.push_back(w->pos());
            if (run == 0)
                w->move(37, 41);
        }
    };
    for (; run < 2; ++run) {
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
        click("processButton");
        ASSERT_TRUE(waitForIdle() && QTest::qWaitFor([&] { return dlg->spectra() && !dlg->spectra()->busy(); }, 30000));
        EXPECT_TRUE(dlg->spectra()->isVisible());
        if (run == 1) {
            EXPECT_EQ(QApplication::activeWindow(), dlg.get()) << "an open Spectra window is only refreshed";
        }
    }
    ASSERT_EQ(places.size(), 2u);
    EXPECT_EQ(places[1], QPoint(37, 41));
}

} // namespace
} // namespace vesk::testing
