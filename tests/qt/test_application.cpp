// The application object: how the program is set up, and that quitting its
// main window ends it.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <clocale>

#include <gtest/gtest.h>

#include "ui/qt/vesk_app.h"
#include "ui/qt/vesk_dlg.h"
#include "window_test_support.h"

namespace vesk::testing {
namespace {

TEST(Application, IsNamedAfterTheExecutableAndKeepsADecimalPoint)
{
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("vesk"));
    EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("vesk"));
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    // The tests run with a locale of the environment (see CMakeLists.txt);
    // Qt adopted it, the application put numbers back to "C".
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
}

TEST(Application, QuittingTheMainWindowEndsTheProgram)
{
    auto* app = qobject_cast<CveskApp*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    QString asked;
    const auto windowSeen = whenModalAppears<CveskDlg>([](CveskDlg* dlg) {
        QTest::keyClick(dlg, Qt::Key_Escape);
    });
    const auto questionSeen = whenModalAppears<QMessageBox>([&](QMessageBox* box) {
        asked = box->text();
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(app->InitInstance(), 0);
    EXPECT_TRUE(*windowSeen);
    EXPECT_TRUE(*questionSeen);
    EXPECT_EQ(asked, QStringLiteral("Do you really want to quit?"));
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible()) << w->metaObject()->className();
}

} // namespace
} // namespace vesk::testing
