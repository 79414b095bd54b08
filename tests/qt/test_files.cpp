// Browse..., Play and Info, the path edits' limit, and the real toolkit
// services with their boxes answered by the test.
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFontInfo>
#include <QMessageBox>
#include <QThread>
#include <QUrl>

#include "ui/exchange.h"
#include "ui/qt/inpinfo_dlg.h"
#include "window_fixture.h"

namespace vesk::testing {
namespace {

using FileActions = WindowTest;

TEST_F(FileActions, BrowseTakesFirstThenSetsThePathChosenAndACancelKeepsIt)
{
    type("fssimEdit", "8000");
    toolkit.files = {std::string("/music/in.wav"), std::string("/music/out.wav"), std::nullopt};
    click("browseInputButton");
    click("browseOutputButton");
    click("browseOutputButton");
    EXPECT_EQ(dlg->record().fssim, 8000.0);
    EXPECT_EQ(dlg->record().inpwavname, "/music/in.wav");
    EXPECT_EQ(text("inpwavnameEdit"), "/music/in.wav");
    EXPECT_EQ(text("outwavnameEdit"), "/music/out.wav");
    ASSERT_EQ(toolkit.requests.size(), 3u);
    EXPECT_EQ(toolkit.requests[0].choice.title, "Input WAV file");
    EXPECT_EQ(toolkit.requests[0].choice.kind, FileChooserKind::open);
    EXPECT_EQ(toolkit.requests[1].choice.title, "Output WAV file");
    EXPECT_EQ(toolkit.requests[1].choice.kind, FileChooserKind::save);
    EXPECT_EQ(toolkit.requests[1].choice.filter, "WAV files (*.wav)|*.wav|All files|*|");
}

// The edit would cut a longer path to its limit without a word, and the
// next action would use the cut path.
TEST_F(FileActions, BrowseRefusesAPathLongerThan256CharactersAndKeepsThePrevious)
{
    type("inpwavnameEdit", "kept.wav");
    const std::string longest = "/" + std::string(250, 'a') + ".wav"; // 255
    toolkit.files = {longest + "x", longest + "\xc3\xa9", longest + "xy"};
    click("browseInputButton"); // 256: fits
    EXPECT_EQ(dlg->record().inpwavname, longest + "x");
    click("browseInputButton"); // 256 characters, 257 bytes: fits
    EXPECT_EQ(text("inpwavnameEdit"), longest + "\xc3\xa9");
    click("browseInputButton"); // 257
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>{"Please choose a path of no more than 256 characters."});
    EXPECT_EQ(dlg->record().inpwavname, longest + "\xc3\xa9");
    EXPECT_EQ(text("inpwavnameEdit"), longest + "\xc3\xa9");
}

// The exchange counts UTF-8 characters; the edits must count the same way
// and never keep half a character (U+1F3B5 is two UTF-16 units).
TEST_F(FileActions, ThePathEditsHold256CharactersCountedAsTheExchangeCounts)
{
    const QString note = QString::fromUtf8("\xf0\x9f\x8e\xb5");
    for (const char* name : {"inpwavnameEdit", "outwavnameEdit"}) {
        QLineEdit* e = edit(name);
        e->clear();
        e->insert(note.repeated(200));
        EXPECT_EQ(character_count(e->text().toStdString()), 200u) << name;
        e->setText(QString(255, QLatin1Char('a')));
        e->end(false);
        e->insert(note);
        EXPECT_EQ(e->text(), QString(255, QLatin1Char('a')) + note) << name;
        e->insert(QStringLiteral("b"));
        e->insert(note);
        EXPECT_EQ(character_count(e->text().toStdString()), 256u) << name;
    }
    dlg->take();
    EXPECT_TRUE(toolkit.texts('m').empty());
}

TEST_F(FileActions, PlayTakesFirstAndHandsThePathOver)
{
    type("inpwavnameEdit", "no such input.wav");
    click("playInputButton");
    type("outwavnameEdit", "out.wav");
    click("playOutputButton");
    EXPECT_EQ(toolkit.texts('p'), (std::vector<std::string>{"no such input.wav", "out.wav"}));
    EXPECT_EQ(dlg->record().inpwavname, "no such input.wav");
    EXPECT_TRUE(toolkit.texts('m').empty());
}

TEST_F(FileActions, InfoShowsTheInputFormatInAFixedPitchFontOrTheReason)
{
    type("inpwavnameEdit", writeInput("stereo.wav", 2, 12345));
    std::string shown;
    bool fixedPitch = false, helpButton = true;
    const auto seen = whenModalAppears<CInpinfoDlg>([&](CInpinfoDlg* info) {
        shown = info->infoLabel()->text().toStdString();
        fixedPitch = QFontInfo(info->infoLabel()->font()).fixedPitch();
        helpButton = info->windowFlags().testFlag(Qt::WindowContextHelpButtonHint);
        QTest::keyClick(info, Qt::Key_Return);
    });
    click("infoButton");
    ASSERT_TRUE(*seen);
    EXPECT_EQ(shown, "samples:          12345\nquantization:        16 bit\n"
                     "size:             49380 bytes\nsamplerate:       48000 Hz\nchannels:             2\n");
    EXPECT_TRUE(fixedPitch);
    EXPECT_FALSE(helpButton);
    type("inpwavnameEdit", dir.file("missing.wav"));
    click("infoButton");
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>{"cannot open WAV input"});
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(QtToolkit, BoxesAreCaptionedVeskAndAQuestionDefaultsToNo)
{
    QtToolkit toolkit;
    QString caption, text;
    whenModalAppears<QMessageBox>([&](QMessageBox* box) {
        caption = box->windowTitle();
        text = box->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    toolkit.message("cannot open file");
    EXPECT_EQ(caption, QStringLiteral("vesk"));
    EXPECT_EQ(text, QStringLiteral("cannot open file"));
    whenModalAppears<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    EXPECT_TRUE(toolkit.question("Reset parameters?"));
    whenModalAppears<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
    EXPECT_FALSE(toolkit.question("Do you really want to quit?"));
}

TEST(QtToolkit, AWorkersCallRunsOnTheUserInterfaceThreadAndTheWorkerWaitsForIt)
{
    QtToolkit toolkit;
    std::atomic<bool> onUi{false}, returned{false}, boxUpWhileWaiting{false};
    whenModalAppears<QMessageBox>([&](QMessageBox* box) {
        QTest::qWait(30);
        boxUpWhileWaiting = !returned.load();
        box->accept();
    });
    toolkit.start_thread([&] {
        toolkit.call_on_ui([&] { onUi = QtToolkit::onUiThread(); });
        toolkit.message("wav-in: invalid or unsupported WAV-format");
        returned = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 5000));
    EXPECT_TRUE(onUi);
    EXPECT_TRUE(boxUpWhileWaiting);
}

TEST(QtToolkit, TheFileChooserGivesTheFullPathWithTheDefaultExtension)
{
    EXPECT_EQ(QtToolkit::nameFilters("Sound|*.wav;*.aif|All files|*|"),
              (QStringList{QStringLiteral("Sound (*.wav *.aif)"), QStringLiteral("All files (*)")}));
    QtToolkit toolkit;
    const QString dir = QDir::tempPath();
    whenModalAppears<QFileDialog>([&](QFileDialog* chooser) {
        chooser->setDirectory(dir);
        chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("vesk-chooser"));
        static_cast<QDialog*>(chooser)->accept();
    });
    const auto chosen = toolkit.choose_file({FileChooserKind::save, "Output WAV file", "WAV files (*.wav)|*.wav|", ".wav"});
    EXPECT_EQ(QString::fromStdString(chosen.value_or("")), QDir(dir).absoluteFilePath(QStringLiteral("vesk-chooser.wav")));
    whenModalAppears<QFileDialog>([](QFileDialog* chooser) { chooser->reject(); });
    EXPECT_FALSE(toolkit.choose_file({FileChooserKind::open, "Input WAV file", "", ".wav"}));
}

// Stands in for the desktop's player.
class FakePlayer : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

TEST(QtToolkit, PlayHandsTheAbsolutePathToTheDesktop)
{
    FakePlayer player;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &player, "open");
    QtToolkit().play("some take.wav");
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(player.opened, QList<QUrl>{QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("some take.wav")))});
}

} // namespace
} // namespace vesk::testing

#include "test_files.moc"
