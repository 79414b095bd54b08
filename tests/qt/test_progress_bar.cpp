// The Processing window's bar follows the engine's reports: short of full
// while the run works, full when "--- DONE ---" is shown; a time left only
// once two reports and half a second are behind the run.
#include <QLabel>
#include <QProgressBar>

#include "window_fixture.h"

namespace vesk::testing {
namespace {

using ProgressBar = WindowTest;

TEST_F(ProgressBar, ARunThroughTheWindowEndsWithTheBarFull)
{
    type("inpwavnameEdit", writeInput("in.wav", 2, 4800));
    type("outwavnameEdit", dir.file("out.wav"));
    type("bitnrEdit", "12");
    std::vector<std::pair<std::string, int>> seen; // the line shown and the bar's value
    toolkit.afterHandOver = [&] {
        if (ProcinfoWindow* w = dlg->procinfo().window())
            seen.emplace_back(dlg->procinfo().logline, w->progressBar()->value() * 1000 / w->progressBar()->maximum());
    };
    click("processButton");
    ASSERT_TRUE(waitForIdle());
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), (std::pair<std::string, int>{done_line, 1000}));
    for (std::size_t i = 0; i + 1 < seen.size(); ++i) {
        EXPECT_LE(seen[i].second, seen[i + 1].second);
        EXPECT_EQ(seen[i].second == 1000, seen[i].first == done_line || seen[i + 1].first == done_line) << i;
    }
}

TEST_F(ProgressBar, NoTimeLeftIsShownBeforeTwoReportsAndHalfASecond)
{
    CProcinfoDlg& procinfo = dlg->procinfo();
    procinfo.Create(dlg.get());
    procinfo.clearLog();
    std::vector<std::string> shown;
    for (double fraction : {0.001, 0.1, 0.2}) {
        if (fraction == 0.2)
            QTest::qWait(550);
        procinfo.OnProgress(fraction);
        shown.push_back(procinfo.window()->timeLeftLabel()->text().toStdString());
    }
    procinfo.DestroyWindow();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0], "");
    EXPECT_EQ(shown[1], "") << "two reports, but within half a second";
    EXPECT_EQ(shown[2].rfind("time left 0:0", 0), 0u) << shown[2];
}

} // namespace
} // namespace vesk::testing
