// The main window's spins, Reset, Enter, quitting, refusals and About box.
#include <QLabel>
#include <QMenu>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>

#include "ui/control_ids.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/spin_buttons.h"
#include "tests/support/run_process.h"
#include "window_fixture.h"

namespace vesk::testing {
namespace {

class MainWindow : public WindowTest {
protected:
    void arrow(const char* spin, bool up)
    {
        auto* s = dlg->findChild<SpinButtons*>(QString::fromLatin1(spin));
        QTest::mouseClick(up ? s->upButton() : s->downButton(), Qt::LeftButton);
    }
};

// Each spin steps its own field, shown as "%.15g" writes it: 48000 and 24000
// times 2^(+-1/12), worked out by hand once (the steps are ui/steps.cpp's).
TEST_F(MainWindow, EachSpinStepsItsOwnFieldBySemitonesOrOneBit)
{
    struct Row { const char* spin; const char* edit; bool up; const char* shown; };
    const Row rows[] = {
        {"fssimSpin", "fssimEdit", true, "50854.2285292462"},
        {"fchiinSpin", "fchiinEdit", false, "22652.9835043606"},
        {"fchioutSpin", "fchioutEdit", false, "22652.9835043606"},
        {"varispeedtSpin", "varispeedtEdit", true, "1.0594630943593"},
        {"varispeedfSpin", "varispeedfEdit", false, "0.943874312681693"},
        {"bitnrSpin", "bitnrEdit", true, "24"},
        {"bitnrSpin", "bitnrEdit", false, "23"},
    };
    for (const Row& row : rows) {
        arrow(row.spin, row.up);
        EXPECT_EQ(text(row.edit), row.shown) << row.spin;
        EXPECT_EQ(edit(row.edit)->cursorPosition(), 0) << "a long number shows its start";
    }
    EXPECT_EQ(text("fssimEdit"), "50854.2285292462"); // the other spins left it alone
}

// Every number edit holds five digits and a point, at the desktop's normal
// font and at a larger one: the text's width and the style's frame fit.
TEST(MainWindowEdits, EachNumberEditHoldsFiveDigitsAndAPointAtTheDesktopsFont)
{
    const QFont normal = QApplication::font();
    for (double points : {normal.pointSizeF(), 1.6 * normal.pointSizeF()}) {
        QFont font = normal;
        font.setPointSizeF(points);
        QApplication::setFont(font);
        QtToolkit toolkit;
        CveskDlg window(toolkit);
        for (QLineEdit* e : window.findChildren<QLineEdit*>()) {
            if (e->objectName().contains(QStringLiteral("wavname")))
                continue;
            QStyleOptionFrame frame;
            frame.initFrom(e);
            frame.lineWidth = e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, e);
            const int text = e->fontMetrics().horizontalAdvance(QStringLiteral("88888.")) + 4; // 2 px each side
            EXPECT_GE(e->width(), e->style()->sizeFromContents(QStyle::CT_LineEdit, &frame, QSize(text, e->height()), e).width())
                << e->objectName().toStdString() << " at " << points << " points";
        }
    }
    QApplication::setFont(normal);
}

TEST_F(MainWindow, ResetAnsweredYesRestoresAllButThePathsAndNoChangesNothing)
{
    type("inpwavnameEdit", "a.wav");
    type("fssimEdit", "8000");
    check("varispeedshCheck");
    dlg->take();
    type("inpwavnameEdit", "typed-later.wav"); // typed, not taken
    toolkit.answers = {false, true};
    click("resetButton");
    EXPECT_EQ(text("inpwavnameEdit"), "typed-later.wav");
    EXPECT_EQ(dlg->record().fssim, 8000.0);
    click("resetButton");
    ParamRecord expected;
    expected.inpwavname = "a.wav";
    EXPECT_EQ(dlg->record(), expected);
    EXPECT_EQ(text("inpwavnameEdit"), "a.wav");
    EXPECT_EQ(text("fssimEdit"), "48000");
}

TEST_F(MainWindow, ARefusedTextIsNoticedFocusedAndStopsTheExchangeAndTheAction)
{
    type("outwavnameEdit", "earlier.wav"); // before fssim in the exchange: taken
    type("fssimEdit", "abc");
    type("bitnrEdit", "8");                // after it: kept
    arrow("fssimSpin", true);
    EXPECT_EQ(dlg->record().outwavname, "earlier.wav");
    EXPECT_EQ(dlg->record().bitnr, 24u);
    // Stepped from its stored value, and every box shows the record again.
    EXPECT_EQ(text("fssimEdit"), "50854.2285292462");
    EXPECT_EQ(text("bitnrEdit"), "24");
    type("fssimEdit", "fast");
    toolkit.files = {dir.file("saved.txt")};
    click("processButton");
    click("saveButton");
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>(3, "Please enter a number."));
    EXPECT_EQ(dlg->procinfo().window(), nullptr);
    EXPECT_TRUE(toolkit.texts('c').empty()) << "Save asked for a file after a refusal";
    type("fssimEdit", "8000");
    type("fssrcEdit", "-5");
    edit("fssimEdit")->setFocus(); // the refusal brings it back
    dlg->take();
    EXPECT_EQ(toolkit.texts('m').back(), "Please enter a whole number from 0 to 4294967295.");
    EXPECT_EQ(QApplication::focusWidget(), edit("fssrcEdit"));
    EXPECT_EQ(edit("fssrcEdit")->selectedText(), QStringLiteral("-5"));
}

TEST_F(MainWindow, EnterTakesOrPressesAFocusedButtonWhileQuitEscapeAndTheCloseBoxTakeAndAsk)
{
    type("fssimEdit", "12345.5");
    check("ensrcCheck");
    QTest::keyClick(edit("fssimEdit"), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(dlg->record().fssim, 12345.5);
    EXPECT_EQ(dlg->record().ensrc, 1);
    EXPECT_TRUE(toolkit.requests.empty());
    button("resetButton")->setFocus();
    QTest::keyClick(button("resetButton"), Qt::Key_Return);
    type("fssimEdit", "1000");
    toolkit.answers = {false, false, true};
    QTest::keyClick(edit("fssimEdit"), Qt::Key_Escape);
    EXPECT_EQ(dlg->record().fssim, 1000.0);
    click("quitButton");
    EXPECT_TRUE(dlg->isVisible());
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_EQ(toolkit.texts('q'), (std::vector<std::string>{"Reset parameters?", quit_question, quit_question, quit_question}));
}

TEST_F(MainWindow, TheAboutBoxComesFromItsButtonItsMenuItemAndWindowCommand16Only)
{
    // It names the version that vesk-batch --version names.
    const std::string batch_says = vesk::test::Child(VESK_BATCH_EXE, {"--version"}).finish(10).out;
    ASSERT_EQ(batch_says.rfind("vesk-batch ", 0), 0u) << batch_says;
    const std::string version = batch_says.substr(11, batch_says.size() - 12);
    int opened = 0;
    auto closeIt = [&opened, &version](CAboutDlg* about) {
        ++opened;
        EXPECT_EQ(about->findChild<QLabel*>(QStringLiteral("versionLabel"))->text().toStdString(),
                  "Vesk (Version " + version + ")");
        QTest::keyClick(about, Qt::Key_Escape);
    };
    whenModalAppears<CAboutDlg>(closeIt);
    click("aboutButton");
    whenModalAppears<CAboutDlg>(closeIt);
    dlg->findChild<QAction*>(QStringLiteral("aboutAction"))->trigger();
    whenModalAppears<CAboutDlg>(closeIt);
    dlg->OnSysCommand(control::about_command | 0x000F); // low bits are the system's
    EXPECT_EQ(opened, 3);
    dlg->OnSysCommand(control::about_command + 0x10);
    EXPECT_EQ(opened, 3);
}

} // namespace
} // namespace vesk::testing
