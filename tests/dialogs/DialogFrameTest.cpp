// The frames of the dialogs and message boxes as they reach the platform: a title and the close
// button only, the connection dialog alone resizable; and the yes/no question whose answer
// without a choice is "Нет".
#include "About.h"
#include "AppSett.h"
#include "ConnParamsForm.h"
#include "MessageBox.h"
#include "SPSetup.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace vg57;

namespace {

// The flags the platform window got; a message box is caught while it runs.
Qt::WindowFlags ShownFlags(QWidget& w) {
    w.show();
    const Qt::WindowFlags flags = w.windowHandle()->flags();
    w.hide();
    return flags;
}

Qt::WindowFlags MessageBoxFlags(const std::function<void()>& run) {
    Qt::WindowFlags flags;
    QTimer::singleShot(0, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            flags = box->windowHandle()->flags();
            box->close();
        }
    });
    run();
    return flags;
}

} // namespace

TEST(DialogFrame, dialogsAndMessageBoxesShowTheCloseButtonOnly) {
    TAppSettingsForm settings;
    TSPSetupForm setPoints;
    TAboutForm about(nullptr, {});
    const struct {
        const char* name;
        Qt::WindowFlags flags;
    } rows[] = {
        {"settings", ShownFlags(settings)},
        {"set points", ShownFlags(setPoints)},
        {"about", ShownFlags(about)},
        {"message",
         MessageBoxFlags([] { ShowMessageBox(nullptr, QMessageBox::Critical, "t", "x"); })},
        {"question", MessageBoxFlags([] { AskYesNo(nullptr, "t", "?"); })},
    };
    for (const auto& r : rows) {
        // Without the customize hint the platform adds minimise and maximise of its own.
        EXPECT_TRUE(r.flags & Qt::CustomizeWindowHint) << r.name;
        EXPECT_TRUE(r.flags & Qt::WindowCloseButtonHint) << r.name;
        EXPECT_FALSE(r.flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint))
            << r.name;
    }
    TSetupCommForm connection;
    connection.show();
    EXPECT_NE(connection.minimumSize(), connection.maximumSize()) << "keeps its resizable frame";
}

TEST(DialogFrame, aQuestionIsAnsweredYesOnlyByTheYesButton) {
    const struct {
        const char* name;
        std::function<void(QMessageBox&)> answer;
        bool expected;
    } rows[] = {
        {"Enter", [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); }, false},
        {"Escape", [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); }, false},
        {"close button", [](QMessageBox& b) { b.close(); }, false},
        {"Да", [](QMessageBox& b) { b.button(QMessageBox::Yes)->click(); }, true},
    };
    for (const auto& r : rows) {
        QString yes, no;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            yes = box->button(QMessageBox::Yes)->text();
            no = box->defaultButton()->text();
            r.answer(*box);
        });
        EXPECT_EQ(AskYesNo(nullptr, "t", "?"), r.expected) << r.name;
        EXPECT_EQ(yes, QStringLiteral("Да"));
        EXPECT_EQ(no, QStringLiteral("Нет")) << "the default";
    }
}
