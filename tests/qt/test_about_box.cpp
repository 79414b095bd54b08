#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "ui/qt/about_dlg.h"
#include "window_test_support.h"

namespace vesk::testing {
namespace {

TEST(AboutBox, NamesTheProductItsVersionAndItsMakers)
{
    CAboutDlg about;
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About vesk"));
    auto* version = about.findChild<QLabel*>(QStringLiteral("versionLabel"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), QStringLiteral("Vesk (Version 1.3)"));
    EXPECT_EQ(version->textFormat(), Qt::PlainText);
    EXPECT_FALSE(about.findChild<QLabel*>(QStringLiteral("noticeLabel"))->text().isEmpty());
    EXPECT_FALSE(about.findChild<QLabel*>(QStringLiteral("contactLabel"))->text().isEmpty());
    auto* icon = about.findChild<QLabel*>(QStringLiteral("iconLabel"));
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull());
    // A fixed frame.
    EXPECT_EQ(about.minimumSize(), about.maximumSize());
    grabWindow(&about, QStringLiteral("about-box"));
}

TEST(AboutBox, OkAndEnterAndEscapeCloseIt)
{
    for (const int key : {0, int(Qt::Key_Return), int(Qt::Key_Escape)}) {
        CAboutDlg about;
        about.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
        auto* ok = about.findChild<QPushButton*>(QStringLiteral("okButton"));
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(ok->text(), QStringLiteral("OK"));
        EXPECT_TRUE(ok->isDefault());
        if (key == 0)
            QTest::mouseClick(ok, Qt::LeftButton);
        else
            QTest::keyClick(&about, Qt::Key(key));
        EXPECT_FALSE(about.isVisible()) << key;
    }
}

TEST(AboutBox, EveryLineFitsItsBox)
{
    CAboutDlg about;
    for (QLabel* label : about.findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        const QSize needed = label->fontMetrics().size(0, label->text());
        EXPECT_LE(needed.width(), label->width()) << label->objectName().toStdString();
        EXPECT_LE(needed.height(), label->height()) << label->objectName().toStdString();
        EXPECT_TRUE(about.rect().contains(label->geometry())) << label->objectName().toStdString();
    }
}

} // namespace
} // namespace vesk::testing
