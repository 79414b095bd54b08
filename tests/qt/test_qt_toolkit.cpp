// The Qt toolkit services themselves, with their boxes answered by the test.
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <chrono>

#include <gtest/gtest.h>

#include "scripted_toolkit.h"
#include "ui/qt/qt_toolkit.h"
#include "window_test_support.h"

namespace vesk::testing {
namespace {

TEST(QtToolkit, MessageIsAnOkBoxCaptionedWithTheProgramsName)
{
    QtToolkit toolkit;
    QString caption;
    QString text;
    int buttons = 0;
    const auto seen = whenModalAppears<QMessageBox>([&](QMessageBox* box) {
        caption = box->windowTitle();
        text = box->text();
        buttons = int(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    toolkit.message("cannot open file");
    EXPECT_TRUE(*seen);
    EXPECT_EQ(caption, QStringLiteral("vesk"));
    EXPECT_EQ(text, QStringLiteral("cannot open file"));
    EXPECT_EQ(buttons, 1);
}

TEST(QtToolkit, QuestionIsYesOrNoWithNoTheDefault)
{
    QtToolkit toolkit;
    for (const bool answer : {true, false}) {
        bool noIsDefault = false;
        QString caption;
        const auto seen = whenModalAppears<QMessageBox>([&](QMessageBox* box) {
            caption = box->windowTitle();
            noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
            box->button(answer ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        EXPECT_EQ(toolkit.question("Reset parameters?"), answer);
        EXPECT_TRUE(*seen);
        EXPECT_TRUE(noIsDefault);
        EXPECT_EQ(caption, QStringLiteral("vesk"));
    }
    // Enter takes the default: No.
    whenModalAppears<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
    EXPECT_FALSE(toolkit.question("Do you really want to quit?"));
}

TEST(QtToolkit, AWorkersMessageWaitsUntilItIsDismissed)
{
    QtToolkit toolkit;
    std::atomic<bool> returned{false};
    std::atomic<bool> shownOnUiThread{false};
    const auto seen = whenModalAppears<QMessageBox>([&](QMessageBox* box) {
        shownOnUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        // The worker is still waiting while the box is up.
        QTest::qWait(50);
        EXPECT_FALSE(returned.load());
        box->button(QMessageBox::Ok)->click();
    });
    toolkit.start_thread([&] {
        toolkit.message("wav-in: invalid or unsupported WAV-format");
        returned = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 5000));
    EXPECT_TRUE(*seen);
    EXPECT_TRUE(shownOnUiThread.load());
}

TEST(QtToolkit, CallOnUiRunsOnTheUserInterfaceThreadAndWaits)
{
    QtToolkit toolkit;
    // On the user-interface thread: at once.
    bool inline_ran = false;
    toolkit.call_on_ui([&] { inline_ran = true; });
    EXPECT_TRUE(inline_ran);

    std::atomic<int> step{0};
    std::atomic<bool> onUi{false};
    std::atomic<int> afterCall{-1};
    toolkit.start_thread([&] {
        toolkit.call_on_ui([&] {
            onUi = QThread::currentThread() == QCoreApplication::instance()->thread();
            step = 1;
        });
        afterCall = step.load(); // the call has run when call_on_ui returns
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return afterCall.load() != -1; }, 5000));
    EXPECT_EQ(afterCall.load(), 1);
    EXPECT_TRUE(onUi.load());
}

TEST(QtToolkit, PauseBlocksForTheTimeAsked)
{
    QtToolkit toolkit;
    const auto start = std::chrono::steady_clock::now();
    toolkit.pause(60);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
}

TEST(QtToolkit, FilterTextBecomesQtNameFilters)
{
    EXPECT_EQ(QtToolkit::nameFilters("WAV files (*.wav)|*.wav|All files|*|"),
              (QStringList{QStringLiteral("WAV files (*.wav)"), QStringLiteral("All files (*)")}));
    EXPECT_EQ(QtToolkit::nameFilters("TXT files (*.txt)|*.txt|All files|*|"),
              (QStringList{QStringLiteral("TXT files (*.txt)"), QStringLiteral("All files (*)")}));
    EXPECT_EQ(QtToolkit::nameFilters("Sound|*.wav;*.aif|"),
              QStringList{QStringLiteral("Sound (*.wav *.aif)")});
    EXPECT_TRUE(QtToolkit::nameFilters("").isEmpty());
}

TEST(QtToolkit, FileChooserReturnsTheFullPathWithTheDefaultExtension)
{
    QtToolkit toolkit;
    const QString dir = QDir::tempPath();
    QString title;
    QStringList filters;
    bool saving = false;
    const auto seen = whenModalAppears<QFileDialog>([&](QFileDialog* chooser) {
        title = chooser->windowTitle();
        filters = chooser->nameFilters();
        saving = chooser->acceptMode() == QFileDialog::AcceptSave;
        chooser->setDirectory(dir);
        // Typed into the name box, as a person would; selectFile() leaves a
        // box that has the focus alone.
        auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name == nullptr) {
            ADD_FAILURE() << "the chooser has no name box";
            chooser->reject();
            return;
        }
        name->setText(QStringLiteral("vesk-chooser-test"));
        static_cast<QDialog*>(chooser)->accept(); // the dialog's OK
    });
    const auto chosen = toolkit.choose_file(
        {FileChooserKind::save, "Output WAV file", "WAV files (*.wav)|*.wav|All files|*|", ".wav"});
    EXPECT_TRUE(*seen);
    EXPECT_EQ(title, QStringLiteral("Output WAV file"));
    EXPECT_EQ(filters.size(), 2);
    EXPECT_TRUE(saving);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(QString::fromStdString(*chosen),
              QDir(dir).absoluteFilePath(QStringLiteral("vesk-chooser-test.wav")));
}

TEST(QtToolkit, CancellingTheFileChooserChoosesNothing)
{
    QtToolkit toolkit;
    whenModalAppears<QFileDialog>([](QFileDialog* chooser) { chooser->reject(); });
    EXPECT_FALSE(toolkit.choose_file({FileChooserKind::open, "Input WAV file", "", ".wav"}).has_value());
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
    QtToolkit toolkit;
    toolkit.play("some take.wav");
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(player.opened.size(), 1);
    EXPECT_EQ(player.opened[0],
              QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("some take.wav"))));
}

TEST(ScriptedToolkit, RecordsRequestsAndAnswersFromItsScript)
{
    ScriptedToolkit toolkit;
    toolkit.answerQuestions({true});
    toolkit.answerFiles({std::string("/tmp/a.wav"), std::nullopt});
    toolkit.message("hello");
    EXPECT_TRUE(toolkit.question("first?"));
    EXPECT_FALSE(toolkit.question("second?")); // no answer left: No
    EXPECT_EQ(toolkit.choose_file({FileChooserKind::open, "Input WAV file", "", ".wav"}),
              std::optional<std::string>("/tmp/a.wav"));
    EXPECT_FALSE(toolkit.choose_file({FileChooserKind::save, "Output WAV file", "", ".wav"}));
    toolkit.play("x.wav");
    toolkit.pause(700);
    EXPECT_EQ(toolkit.messages(), std::vector<std::string>{"hello"});
    EXPECT_EQ(toolkit.questions(), (std::vector<std::string>{"first?", "second?"}));
    EXPECT_EQ(toolkit.unanswered(), 1);
    const auto requests = toolkit.requests();
    ASSERT_EQ(requests.size(), 7u);
    EXPECT_EQ(requests[3].choice.title, "Input WAV file");
    EXPECT_EQ(requests[5].kind, ToolkitRequest::Kind::play);
    EXPECT_EQ(requests[5].text, "x.wav");
    EXPECT_EQ(requests[6].milliseconds, 700);
}

} // namespace
} // namespace vesk::testing

#include "test_qt_toolkit.moc"
