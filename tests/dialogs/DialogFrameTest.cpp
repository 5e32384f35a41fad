// The frames of the dialogs and message boxes as they reach the platform, and the yes/no
// question whose answer without a choice is "Нет".
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

using namespace vg57;

namespace {

// The platform window's flags of a dialog, or of the modal box that `run` shows (answered by
// `answer`); the box is caught while it runs.
Qt::WindowFlags Flags(QWidget& w) {
    w.show();
    return w.windowHandle()->flags();
}
Qt::WindowFlags BoxFlags(const std::function<void()>& run,
                         const std::function<void(QMessageBox&)>& answer = {}) {
    Qt::WindowFlags flags;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        flags = box->windowHandle()->flags();
        answer ? answer(*box) : void(box->close());
    });
    run();
    return flags;
}

} // namespace

TEST(DialogFrame, dialogsAndMessageBoxesShowTheCloseButtonOnlyAndQuestionsDefaultToNo) {
    TAppSettingsForm settings;
    TSPSetupForm setPoints;
    TAboutForm about(nullptr, {});
    bool yes = true;
    const auto enter = [](QMessageBox& b) {
        EXPECT_EQ(b.defaultButton()->text(), QStringLiteral("Нет"));
        QTest::keyClick(&b, Qt::Key_Return);
    };
    const Qt::WindowFlags rows[] = {
        Flags(settings),
        Flags(setPoints),
        Flags(about),
        BoxFlags([] { ShowMessageBox(nullptr, QMessageBox::Critical, "t", "x"); }),
        BoxFlags([&] { yes = AskYesNo(nullptr, "t", "?"); }, enter),
    };
    for (const Qt::WindowFlags f : rows) {
        // Without the customize hint the platform adds minimise and maximise of its own.
        EXPECT_TRUE(f & Qt::CustomizeWindowHint && f & Qt::WindowCloseButtonHint) << f;
        EXPECT_FALSE(f & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)) << f;
    }
    EXPECT_FALSE(yes) << "Enter answers the default, \"Нет\"";
    BoxFlags([&] { yes = AskYesNo(nullptr, "t", "?"); },
             [](QMessageBox& b) { b.button(QMessageBox::Yes)->click(); });
    EXPECT_TRUE(yes);
    TSetupCommForm connection;
    EXPECT_NE(connection.minimumSize(), connection.maximumSize()) << "keeps its resizable frame";
}
