// A fresh main window for each test, shown and active, with the scripted
// toolkit answering for the user, and the ways a person works its controls.
#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTest>
#include <memory>

#include <gtest/gtest.h>

#include "scripted_toolkit.h"
#include "ui/qt/vesk_dlg.h"

namespace vesk::testing {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dlg = std::make_unique<CveskDlg>(toolkit);
        toolkit.setOwner(dlg.get());
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    }

    QLineEdit* edit(const char* name)
    {
        auto* e = dlg->findChild<QLineEdit*>(QString::fromLatin1(name));
        EXPECT_NE(e, nullptr) << name;
        return e;
    }
    QString text(const char* name) { return edit(name)->text(); }

    // Types into an edit as a person would, replacing its text.
    void type(const char* name, const QString& typed)
    {
        QLineEdit* e = edit(name);
        e->setFocus();
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keyClicks(e, typed);
    }
    void type(const char* name, const std::string& typed) { type(name, QString::fromStdString(typed)); }

    QPushButton* button(const char* name)
    {
        auto* b = dlg->findChild<QPushButton*>(QString::fromLatin1(name));
        EXPECT_NE(b, nullptr) << name;
        return b;
    }
    void click(const char* name)
    {
        QPushButton* b = button(name);
        ASSERT_NE(b, nullptr) << name;
        QTest::mouseClick(b, Qt::LeftButton);
    }

    ScriptedToolkit toolkit;
    std::unique_ptr<CveskDlg> dlg;
};

} // namespace vesk::testing
