// The main window, driven through its real controls with QTest; the scripted
// toolkit answers the questions.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QToolButton>
#include <map>

#include <gtest/gtest.h>

#include "main_window_fixture.h"
#include "scripted_toolkit.h"
#include "ui/control_ids.h"
#include "ui/exchange.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/spin_buttons.h"
#include "ui/qt/vesk_dlg.h"
#include "window_test_support.h"

namespace vesk::testing {
namespace {

const std::string quit_question = "Do you really want to quit?";
const std::string reset_question = "Reset parameters?";

class MainWindow : public MainWindowTest {
protected:
    SpinButtons* spin(const char* name)
    {
        auto* s = dlg->findChild<SpinButtons*>(QString::fromLatin1(name));
        EXPECT_NE(s, nullptr) << name;
        return s;
    }
    void up(const char* name) { QTest::mouseClick(spin(name)->upButton(), Qt::LeftButton); }
    void down(const char* name) { QTest::mouseClick(spin(name)->downButton(), Qt::LeftButton); }
};

TEST_F(MainWindow, AFreshWindowShowsTheDefaults)
{
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Vesk"));
    EXPECT_EQ(text("inpwavnameEdit"), QStringLiteral("inp.wav"));
    EXPECT_EQ(text("outwavnameEdit"), QStringLiteral("out.wav"));
    EXPECT_EQ(text("fssrcEdit"), QStringLiteral("48000"));
    EXPECT_FALSE(dlg->findChild<QCheckBox*>(QStringLiteral("ensrcCheck"))->isChecked());
    EXPECT_EQ(text("fssimEdit"), QStringLiteral("48000"));
    EXPECT_EQ(text("bitnrEdit"), QStringLiteral("24"));
    EXPECT_EQ(text("apertureEdit"), QStringLiteral("0"));
    EXPECT_EQ(text("fcloinEdit"), QStringLiteral("0"));
    EXPECT_EQ(text("fchiinEdit"), QStringLiteral("24000"));
    EXPECT_EQ(text("fclooutEdit"), QStringLiteral("0"));
    EXPECT_EQ(text("fchioutEdit"), QStringLiteral("24000"));
    EXPECT_EQ(text("varispeedtEdit"), QStringLiteral("1"));
    EXPECT_EQ(text("varispeedfEdit"), QStringLiteral("1"));
    EXPECT_FALSE(dlg->findChild<QCheckBox*>(QStringLiteral("varispeedshCheck"))->isChecked());
    EXPECT_EQ(text("jitterampEdit"), QStringLiteral("0"));
    EXPECT_EQ(dlg->record(), ParamRecord{});
    EXPECT_TRUE(toolkit.requests().empty());
}

TEST_F(MainWindow, EveryControlOfTheTableIsThere)
{
    const std::map<int, std::pair<const char*, const char*>> buttons = {
        {1007, {"browseInputButton", "Browse..."}}, {1017, {"playInputButton", "Play"}},
        {1019, {"infoButton", "Info"}},             {1020, {"resetButton", "Reset"}},
        {1008, {"browseOutputButton", "Browse..."}}, {1018, {"playOutputButton", "Play"}},
        {1016, {"processButton", "Process"}},       {1029, {"openButton", "Open..."}},
        {1030, {"saveButton", "Save..."}},          {1000, {"aboutButton", "About"}},
        {1001, {"quitButton", "Quit"}},
    };
    for (const auto& [id, names] : buttons) {
        auto* b = qobject_cast<QPushButton*>(dlg->control(id));
        ASSERT_NE(b, nullptr) << id;
        EXPECT_EQ(b->objectName(), QString::fromLatin1(names.first));
        EXPECT_EQ(b->text(), QString::fromLatin1(names.second));
        // No push button is the default: Enter must not press one.
        EXPECT_FALSE(b->isDefault()) << id;
    }
    for (const ExchangeField& f : exchange_fields())
        EXPECT_NE(dlg->control(f.control), nullptr) << f.control;
    for (const int id : {1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028}) {
        auto* s = qobject_cast<SpinButtons*>(dlg->control(id));
        ASSERT_NE(s, nullptr) << id;
        EXPECT_EQ(s->upButton()->focusPolicy(), Qt::NoFocus);
        EXPECT_TRUE(s->upButton()->autoRepeat());
        EXPECT_TRUE(s->downButton()->autoRepeat());
    }
    EXPECT_EQ(edit("inpwavnameEdit")->maxLength(), 256);
    EXPECT_EQ(edit("outwavnameEdit")->maxLength(), 256);
    EXPECT_EQ(dlg->findChild<QCheckBox*>(QStringLiteral("ensrcCheck"))->text(), QStringLiteral("Enable SRC"));
    EXPECT_EQ(dlg->findChild<QCheckBox*>(QStringLiteral("varispeedshCheck"))->text(), QStringLiteral("Hold Sample"));
}

TEST_F(MainWindow, TabGoesThroughTheControlsInTableOrderWithOpenAndSaveLast)
{
    const QStringList expected = {
        "inpwavnameEdit", "browseInputButton", "playInputButton", "infoButton", "resetButton",
        "fssrcEdit", "ensrcCheck", "fcloinEdit", "fchiinEdit", "varispeedtEdit", "varispeedfEdit",
        "varispeedshCheck", "fssimEdit", "apertureEdit", "jitterampEdit", "fclooutEdit",
        "fchioutEdit", "bitnrEdit", "outwavnameEdit", "browseOutputButton", "playOutputButton",
        "processButton", "aboutButton", "quitButton", "openButton", "saveButton",
    };
    QWidget* first = edit("inpwavnameEdit");
    QStringList order{first->objectName()};
    for (QWidget* w = first->nextInFocusChain(); w != first; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(dlg.get()))
            order << w->objectName();
    }
    EXPECT_EQ(order, expected);
    // The window opens with the focus in the first of them.
    EXPECT_EQ(QApplication::focusWidget(), first);
}

TEST_F(MainWindow, SemitoneLabelsStandAboveAndBelowTheirArrows)
{
    for (const char* field : {"fcloin", "fchiin", "varispeedt", "varispeedf", "fssim", "fcloout", "fchiout"}) {
        const QString f = QString::fromLatin1(field);
        auto* s = spin((f + QStringLiteral("Spin")).toLatin1().constData());
        auto* upper = dlg->findChild<QLabel*>(f + QStringLiteral("SemitoneUpLabel"));
        auto* lower = dlg->findChild<QLabel*>(f + QStringLiteral("SemitoneDownLabel"));
        ASSERT_NE(upper, nullptr) << field;
        ASSERT_NE(lower, nullptr) << field;
        EXPECT_EQ(upper->text(), QStringLiteral("ST +"));
        EXPECT_EQ(lower->text(), QStringLiteral("ST -"));
        EXPECT_LE(upper->geometry().bottom(), s->geometry().top()) << field;
        EXPECT_GE(lower->geometry().top(), s->geometry().bottom()) << field;
    }
}

TEST_F(MainWindow, OneSemitoneUpOnFsSim)
{
    up("fssimSpin");
    EXPECT_EQ(text("fssimEdit"), QStringLiteral("50854.2285292462"));
    EXPECT_EQ(text("fssimEdit").toStdString(), format_real(48000.0 * 1.0594630943592953));
    EXPECT_EQ(dlg->record().fssim, 48000.0 * 1.0594630943592953);
}

TEST_F(MainWindow, OneSemitoneDownOnInputFcHi)
{
    down("fchiinSpin");
    EXPECT_EQ(text("fchiinEdit"), QStringLiteral("22652.9835043606"));
    EXPECT_EQ(text("fchiinEdit").toStdString(), format_real(24000.0 / 1.0594630943592953));
}

TEST_F(MainWindow, TwelveSemitonesUpEndOneDigitBelowTheOctave)
{
    for (int i = 0; i < 12; ++i)
        up("fssimSpin");
    EXPECT_EQ(text("fssimEdit"), QStringLiteral("95999.9999999999"));
}

TEST_F(MainWindow, EachSpinStepsItsOwnField)
{
    up("varispeedtSpin");
    down("varispeedfSpin");
    up("fclooutSpin"); // 0 stays 0
    down("fchioutSpin");
    up("fcloinSpin");
    EXPECT_EQ(text("varispeedtEdit").toStdString(), format_real(1.0594630943592953));
    EXPECT_EQ(text("varispeedfEdit").toStdString(), format_real(1.0 / 1.0594630943592953));
    EXPECT_EQ(text("fclooutEdit"), QStringLiteral("0"));
    EXPECT_EQ(text("fchioutEdit"), QStringLiteral("22652.9835043606"));
    EXPECT_EQ(text("fcloinEdit"), QStringLiteral("0"));
    EXPECT_EQ(text("fssimEdit"), QStringLiteral("48000"));
    EXPECT_EQ(text("fchiinEdit"), QStringLiteral("24000"));
}

TEST_F(MainWindow, BitCountSpinStaysWithinOneTo24)
{
    up("bitnrSpin");
    EXPECT_EQ(text("bitnrEdit"), QStringLiteral("24"));
    down("bitnrSpin");
    EXPECT_EQ(text("bitnrEdit"), QStringLiteral("23"));
    type("bitnrEdit", QStringLiteral("1"));
    down("bitnrSpin");
    EXPECT_EQ(text("bitnrEdit"), QStringLiteral("1"));
    up("bitnrSpin");
    EXPECT_EQ(text("bitnrEdit"), QStringLiteral("2"));
    type("bitnrEdit", QStringLiteral("30"));
    down("bitnrSpin");
    EXPECT_EQ(text("bitnrEdit"), QStringLiteral("24"));
    type("bitnrEdit", QStringLiteral("0"));
    up("bitnrSpin");
    EXPECT_EQ(text("bitnrEdit"), QStringLiteral("1"));
    EXPECT_EQ(dlg->record().bitnr, 1u);
    EXPECT_TRUE(toolkit.messages().empty());
}

TEST_F(MainWindow, ResetAnsweredYesRestoresAllButThePaths)
{
    type("inpwavnameEdit", QStringLiteral("a.wav"));
    type("outwavnameEdit", QStringLiteral("b.wav"));
    type("fssimEdit", QStringLiteral("8000"));
    type("bitnrEdit", QStringLiteral("8"));
    QTest::mouseClick(dlg->findChild<QCheckBox*>(QStringLiteral("varispeedshCheck")), Qt::LeftButton);
    QTest::keyClick(edit("bitnrEdit"), Qt::Key_Return); // take
    ASSERT_EQ(dlg->record().bitnr, 8u);
    // Typed but not taken: Reset rewrites the box from the record.
    type("inpwavnameEdit", QStringLiteral("typed-later.wav"));

    toolkit.answerQuestions({true});
    click("resetButton");
    EXPECT_EQ(toolkit.questions(), std::vector<std::string>{reset_question});
    ParamRecord expected;
    expected.inpwavname = "a.wav";
    expected.outwavname = "b.wav";
    EXPECT_EQ(dlg->record(), expected);
    EXPECT_EQ(text("inpwavnameEdit"), QStringLiteral("a.wav"));
    EXPECT_EQ(text("outwavnameEdit"), QStringLiteral("b.wav"));
    EXPECT_EQ(text("fssimEdit"), QStringLiteral("48000"));
    EXPECT_EQ(text("bitnrEdit"), QStringLiteral("24"));
    EXPECT_FALSE(dlg->findChild<QCheckBox*>(QStringLiteral("varispeedshCheck"))->isChecked());
}

TEST_F(MainWindow, ResetAnsweredNoChangesNothing)
{
    type("fssimEdit", QStringLiteral("8000"));
    QTest::keyClick(edit("fssimEdit"), Qt::Key_Return);
    type("bitnrEdit", QStringLiteral("12")); // typed, not taken
    const ParamRecord before = dlg->record();

    toolkit.answerQuestions({false});
    click("resetButton");
    EXPECT_EQ(toolkit.questions(), std::vector<std::string>{reset_question});
    EXPECT_EQ(dlg->record(), before);
    EXPECT_EQ(text("fssimEdit"), QStringLiteral("8000"));
    EXPECT_EQ(text("bitnrEdit"), QStringLiteral("12"));
}

TEST_F(MainWindow, BadTextThenASpinClickShowsOneNoticeAndStepsTheStoredValue)
{
    type("outwavnameEdit", QStringLiteral("earlier.wav")); // before fssim: taken
    type("fssimEdit", QStringLiteral("abc"));
    type("bitnrEdit", QStringLiteral("8"));                // after fssim: kept
    type("jitterampEdit", QStringLiteral("0.25"));         // after fssim: kept

    up("fssimSpin");

    ASSERT_EQ(toolkit.messages().size(), 1u);
    EXPECT_EQ(toolkit.messages()[0], "Please enter a number.");
    EXPECT_EQ(dlg->record().outwavname, "earlier.wav");
    EXPECT_EQ(dlg->record().bitnr, 24u);
    EXPECT_EQ(dlg->record().jitteramp, 0.0);
    // Stepped from its stored value, and every box shows the record again.
    EXPECT_EQ(text("fssimEdit"), QStringLiteral("50854.2285292462"));
    EXPECT_EQ(text("bitnrEdit"), QStringLiteral("24"));
    EXPECT_EQ(text("jitterampEdit"), QStringLiteral("0"));
    EXPECT_EQ(text("outwavnameEdit"), QStringLiteral("earlier.wav"));
    // The refused control has the focus.
    EXPECT_EQ(QApplication::focusWidget(), edit("fssimEdit"));
}

TEST_F(MainWindow, ABadUnsignedTextGetsItsOwnNotice)
{
    type("fssrcEdit", QStringLiteral("-5"));
    QTest::keyClick(edit("fssrcEdit"), Qt::Key_Return);
    ASSERT_EQ(toolkit.messages().size(), 1u);
    EXPECT_EQ(toolkit.messages()[0], "Please enter a whole number from 0 to 4294967295.");
    EXPECT_EQ(QApplication::focusWidget(), edit("fssrcEdit"));
    EXPECT_EQ(edit("fssrcEdit")->selectedText(), QStringLiteral("-5"));
}

TEST_F(MainWindow, EnterTakesAndKeepsTheWindowOpen)
{
    type("fssimEdit", QStringLiteral("12345.5"));
    QTest::mouseClick(dlg->findChild<QCheckBox*>(QStringLiteral("ensrcCheck")), Qt::LeftButton);
    QTest::keyClick(edit("fssimEdit"), Qt::Key_Return);
    EXPECT_EQ(dlg->record().fssim, 12345.5);
    EXPECT_EQ(dlg->record().ensrc, 1);
    QTest::keyClick(edit("fssimEdit"), Qt::Key_Enter, Qt::KeypadModifier);
    QApplication::processEvents();
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(toolkit.requests().empty());
    // The text stays as typed: Enter does not show the record again.
    EXPECT_EQ(text("fssimEdit"), QStringLiteral("12345.5"));
}

TEST_F(MainWindow, EnterOnAFocusedButtonPressesThatButton)
{
    auto* reset = dlg->findChild<QPushButton*>(QStringLiteral("resetButton"));
    reset->setFocus();
    toolkit.answerQuestions({false});
    QTest::keyClick(reset, Qt::Key_Return);
    EXPECT_EQ(toolkit.questions(), std::vector<std::string>{reset_question});
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(MainWindow, EscapeTakesThenAsksAndNoKeepsTheWindow)
{
    type("fssimEdit", QStringLiteral("1000"));
    double fssim_when_asked = 0.0;
    toolkit.onRequest([&](const ToolkitRequest&) { fssim_when_asked = dlg->record().fssim; });
    toolkit.answerQuestions({false});
    QTest::keyClick(edit("fssimEdit"), Qt::Key_Escape);
    EXPECT_EQ(toolkit.questions(), std::vector<std::string>{quit_question});
    EXPECT_EQ(fssim_when_asked, 1000.0);
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(MainWindow, EscapeAnsweredYesEndsTheDialog)
{
    toolkit.answerQuestions({true});
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_EQ(toolkit.questions(), std::vector<std::string>{quit_question});
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
}

TEST_F(MainWindow, QuitButtonAndCloseBoxAskTheSameQuestion)
{
    toolkit.answerQuestions({false, false, true});
    click("quitButton");
    EXPECT_TRUE(dlg->isVisible());
    dlg->close(); // the close box
    EXPECT_TRUE(dlg->isVisible());
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(toolkit.questions(),
              (std::vector<std::string>{quit_question, quit_question, quit_question}));
    EXPECT_EQ(toolkit.unanswered(), 0);
}

TEST_F(MainWindow, WindowIsResizableWithMinimiseAndMaximise)
{
    const Qt::WindowFlags flags = dlg->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_LT(dlg->minimumWidth(), dlg->width());
    EXPECT_LT(dlg->minimumHeight(), dlg->height());
    EXPECT_GT(dlg->maximumHeight(), dlg->height());
    EXPECT_FALSE(dlg->windowIcon().isNull());
}

// Which part of a scroll bar a click lands on.
QPoint pointOf(QScrollBar* bar, QStyle::SubControl part)
{
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.subControls = QStyle::SC_All;
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, part, bar).center();
}

class MainWindowScrolling : public MainWindow {
protected:
    QScrollBar* vbar() { return dlg->findChild<QScrollBar*>(QStringLiteral("verticalScrollBar")); }
    QScrollBar* hbar() { return dlg->findChild<QScrollBar*>(QStringLiteral("horizontalScrollBar")); }

    // Makes the client area (the window less its visible bars) `dy` pixels
    // less high than the design size, as wide as it.
    void shrinkClientHeightBy(int dy)
    {
        const QSize design(dlg->scrollState().fullwidth, dlg->scrollState().fullheight);
        const int bar = dlg->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, vbar());
        dlg->resize(design.width() + bar, design.height() - dy);
        QApplication::processEvents();
    }
    int contentY() { return dlg->content()->y(); }
};

TEST_F(MainWindowScrolling, AtItsFirstSizeNothingScrolls)
{
    const ScrollState& s = dlg->scrollState();
    EXPECT_EQ(QSize(s.fullwidth, s.fullheight), dlg->size());
    EXPECT_EQ(dlg->content()->size(), dlg->size());
    EXPECT_TRUE(vbar()->isHidden());
    EXPECT_TRUE(hbar()->isHidden());
    EXPECT_EQ(vbar()->maximum(), 0);
    EXPECT_EQ(hbar()->maximum(), 0);
    // Larger than designed: still nothing to scroll.
    dlg->resize(dlg->size() + QSize(100, 100));
    QApplication::processEvents();
    EXPECT_TRUE(vbar()->isHidden());
    EXPECT_TRUE(hbar()->isHidden());
}

TEST_F(MainWindowScrolling, ShrunkBy200PixelsALineIs2AndAPage20)
{
    shrinkClientHeightBy(200);
    ASSERT_FALSE(vbar()->isHidden());
    EXPECT_TRUE(hbar()->isHidden());
    EXPECT_EQ(dlg->scrollState().curheight, dlg->scrollState().fullheight - 200);
    EXPECT_EQ(vbar()->maximum(), 200);
    EXPECT_EQ(vbar()->pageStep(), 20);
    ASSERT_EQ(contentY(), 0);

    vbar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(contentY(), -2);
    vbar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(contentY(), -22);
    EXPECT_EQ(vbar()->value(), 22);

    // The same by mouse, on the bar's lower arrow.
    QTest::mouseClick(vbar(), Qt::LeftButton, {}, pointOf(vbar(), QStyle::SC_ScrollBarAddLine));
    EXPECT_EQ(contentY(), -24);
    EXPECT_EQ(vbar()->value(), 24);

    vbar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(contentY(), -4);
    vbar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(contentY(), 0);
    vbar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(contentY(), 0);
}

TEST_F(MainWindowScrolling, TheThumbAndTheEndsOfTheRange)
{
    shrinkClientHeightBy(200);
    vbar()->setSliderPosition(150);
    vbar()->triggerAction(QAbstractSlider::SliderMove);
    EXPECT_EQ(contentY(), -150);
    vbar()->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(contentY(), -200);
    vbar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(contentY(), -200);
    // Made larger again, the window shows all of its content.
    dlg->resize(dlg->scrollState().fullwidth, dlg->scrollState().fullheight);
    QApplication::processEvents();
    EXPECT_EQ(contentY(), 0);
    EXPECT_TRUE(vbar()->isHidden());
}

TEST_F(MainWindowScrolling, NarrowerThanDesignedScrollsSideways)
{
    const ScrollState& s = dlg->scrollState();
    const int bar = dlg->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, hbar());
    dlg->resize(s.fullwidth - 300, s.fullheight + bar);
    QApplication::processEvents();
    ASSERT_FALSE(hbar()->isHidden());
    EXPECT_TRUE(vbar()->isHidden());
    EXPECT_EQ(hbar()->maximum(), 300);
    hbar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(dlg->content()->x(), -3);
    hbar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(dlg->content()->x(), -33);
}

TEST_F(MainWindow, AboutButtonOpensTheAboutBox)
{
    QString title;
    QString version;
    const auto seen = whenModalAppears<CAboutDlg>([&](CAboutDlg* about) {
        title = about->windowTitle();
        version = about->findChild<QLabel*>(QStringLiteral("versionLabel"))->text();
        about->accept();
    });
    click("aboutButton");
    EXPECT_TRUE(*seen);
    EXPECT_EQ(title, QStringLiteral("About vesk"));
    EXPECT_EQ(version, QStringLiteral("Vesk (Version 1.3)"));
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(MainWindow, ContextMenuItemOpensTheAboutBox)
{
    EXPECT_EQ(dlg->contextMenuPolicy(), Qt::ActionsContextMenu);
    QStringList items;
    QString version;
    const auto aboutSeen = whenModalAppears<CAboutDlg>([&](CAboutDlg* about) {
        version = about->findChild<QLabel*>(QStringLiteral("versionLabel"))->text();
        about->accept();
    });
    // The menu opens in its own loop; it is read and its item chosen by its
    // mnemonic from there.
    auto* poll = new QTimer(dlg.get());
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        poll->stop();
        for (QAction* a : menu->actions())
            items << a->text();
        QTest::keyClick(menu, Qt::Key_A);
    });
    poll->start(10);
    // A right click on a label reaches the window's menu.
    QWidget* label = dlg->findChild<QLabel*>(QStringLiteral("fssimLabel"));
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(label, &event);
    EXPECT_EQ(items, QStringList{QStringLiteral("&About vesk...")});
    EXPECT_TRUE(*aboutSeen);
    EXPECT_EQ(version, QStringLiteral("Vesk (Version 1.3)"));
}

TEST_F(MainWindow, OnlyWindowCommand16OpensTheAboutBox)
{
    auto seen = whenModalAppears<CAboutDlg>([](CAboutDlg* about) { about->accept(); });
    dlg->OnSysCommand(0xF060); // another window command: nothing
    QTest::qWait(50);
    EXPECT_FALSE(*seen);
    dlg->OnSysCommand(16 | 0x3); // the low bits carry nothing
    EXPECT_TRUE(*seen);
}

TEST_F(MainWindow, LooksAtDesignSizeAndShrunk)
{
    const QImage full = grabWindow(dlg.get(), QStringLiteral("main-window"));
    EXPECT_EQ(full.size(), dlg->size() * dlg->devicePixelRatio());
    const QSize design = dlg->size();
    dlg->resize(design.width() * 2 / 3, design.height() / 2);
    QApplication::processEvents();
    dlg->findChild<QScrollBar*>(QStringLiteral("verticalScrollBar"))
        ->triggerAction(QAbstractSlider::SliderPageStepAdd);
    const QImage shrunk = grabWindow(dlg.get(), QStringLiteral("main-window-shrunk"));
    EXPECT_EQ(shrunk.size(), dlg->size() * dlg->devicePixelRatio());
}

} // namespace
} // namespace vesk::testing
