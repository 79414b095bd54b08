// Browse..., Play, Info, the path edits' limit, and the real toolkit's boxes.
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFontInfo>
#include <QMessageBox>
#include <QUrl>

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
    EXPECT_EQ(text("inpwavnameEdit"), "/music/in.wav");
    EXPECT_EQ(text("outwavnameEdit"), "/music/out.wav");
    EXPECT_EQ(toolkit.texts('c'), (std::vector<std::string>{"Input WAV file", "Output WAV file", "Output WAV file"}));
}

// The edit would cut a longer path to its limit without a word, and the
// next action would use the cut path.  The exchange counts UTF-8
// characters; the edits must count the same way (U+1F3B5 is two UTF-16
// units).
TEST_F(FileActions, BrowseAndThePathEditsHoldAtMost256CharactersCountedAsTheExchangeCounts)
{
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
    const QString note = QString::fromUtf8("\xf0\x9f\x8e\xb5");
    for (const char* name : {"inpwavnameEdit", "outwavnameEdit"}) {
        QLineEdit* e = edit(name);
        e->setText(QString(255, QLatin1Char('a')));
        e->end(false);
        e->insert(note); // 256 characters, 257 UTF-16 units
        e->insert(QStringLiteral("b"));
        EXPECT_EQ(e->text(), QString(255, QLatin1Char('a')) + note) << name;
    }
}

TEST_F(FileActions, PlayTakesFirstAndHandsThePathOver)
{
    type("inpwavnameEdit", "no such input.wav");
    click("playInputButton");
    type("outwavnameEdit", "out.wav");
    click("playOutputButton");
    EXPECT_EQ(toolkit.texts('p'), (std::vector<std::string>{"no such input.wav", "out.wav"}));
    EXPECT_EQ(dlg->record().inpwavname, "no such input.wav");
}

TEST_F(FileActions, InfoShowsTheInputFormatInAFixedPitchFontOrTheReason)
{
    type("inpwavnameEdit", writeInput("stereo.wav", 2, 12345));
    std::string shown;
    bool fixedPitch = false, helpButton = true;
    double points = 0, textShare = 0;
    const auto seen = whenModalAppears<CInpinfoDlg>([&](CInpinfoDlg* info) {
        QLabel* label = info->infoLabel();
        shown = label->text().toStdString();
        fixedPitch = QFontInfo(label->font()).fixedPitch();
        points = label->font().pointSizeF();
        // The whole text is in view, and it fills the box rather than a
        // corner of it.
        const QSize text = label->sizeHint();
        textShare = label->width() >= text.width() && label->height() >= text.height()
                        ? double(text.width() * text.height()) / (info->width() * info->height()) : 0;
        helpButton = info->windowFlags().testFlag(Qt::WindowContextHelpButtonHint);
        QTest::keyClick(info, Qt::Key_Return);
    });
    click("infoButton");
    ASSERT_TRUE(*seen);
    EXPECT_EQ(shown, "samples:          12345\nquantization:        16 bit\n"
                     "size:             49380 bytes\nsamplerate:       48000 Hz\nchannels:             2\n");
    EXPECT_TRUE(fixedPitch);
    EXPECT_EQ(points, QApplication::font().pointSizeF()) << "the desktop's normal size";
    EXPECT_GT(textShare, 0.4);
    EXPECT_FALSE(helpButton);
    type("inpwavnameEdit", dir.file("missing.wav"));
    click("infoButton");
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>{"cannot open WAV input"});
}

// Each of the window's four choosers as the real toolkit shows it: Open...
// takes only a file that exists, with an "Open" button; the others keep
// their kinds and never insist.
TEST_F(FileActions, OpenChoosesAnExistingFileAndEveryChooserHasItsKindTitleFilterAndSuffix)
{
    for (const char* name : {"openButton", "saveButton", "browseInputButton", "browseOutputButton"})
        click(name);
    const char* txt = "TXT files (*.txt)|All files (*)|txt";
    const char* wav = "WAV files (*.wav)|All files (*)|wav";
    const std::vector<std::string> expected = {
        std::string("Open batch file|open|existing|") + txt, std::string("Save parameters to batch file|save|any|") + txt,
        std::string("Input WAV file|open|any|Audio files (*.wav *.flac *.mp3 *.ogg *.oga *.opus *.aif *.aiff *.aifc "
                    "*.caf *.w64 *.rf64 *.au)|") + wav,
        std::string("Output WAV file|save|any|") + wav};
    ASSERT_EQ(toolkit.choices.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::string shown;
        const auto seen = whenModalAppears<QFileDialog>([&](QFileDialog* d) {
            shown = (QStringList{d->windowTitle(), d->acceptMode() == QFileDialog::AcceptOpen ? "open" : "save",
                                 d->fileMode() == QFileDialog::ExistingFile ? "existing" : "any"}
                     + d->nameFilters() + QStringList{d->defaultSuffix()}).join('|').toStdString();
            d->reject();
        });
        EXPECT_FALSE(QtToolkit(dlg.get()).choose_file(toolkit.choices[i]));
        EXPECT_TRUE(*seen);
        EXPECT_EQ(shown, expected[i]);
    }
}

TEST(QtToolkit, BoxesAreCaptionedVeskAndAQuestionDefaultsToNo)
{
    QtToolkit toolkit;
    QString shown;
    whenModalAppears<QMessageBox>([&](QMessageBox* box) {
        shown = box->windowTitle() + "|" + box->text() + "|" + QString::number(box->standardButtons());
        QTest::keyClick(box, Qt::Key_Return);
    });
    toolkit.message("cannot open file");
    EXPECT_EQ(shown, QStringLiteral("vesk|cannot open file|") + QString::number(QMessageBox::Ok));
    whenModalAppears<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    EXPECT_TRUE(toolkit.question("Reset parameters?"));
    whenModalAppears<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
    EXPECT_FALSE(toolkit.question("Do you really want to quit?"));
}

TEST(QtToolkit, TheChoosersFilterHasOneEntryPerDescriptionAndPatternPair)
{
    EXPECT_EQ(QtToolkit::nameFilters("Sound|*.wav;*.aif|All files|*|"),
              (QStringList{QStringLiteral("Sound (*.wav *.aif)"), QStringLiteral("All files (*)")}));
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
