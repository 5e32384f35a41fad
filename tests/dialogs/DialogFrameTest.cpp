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
#include <vector>

using namespace vg57;

namespace {

// The platform window's flags of the modal box that `run` shows, caught while it runs; `answer`
// ends it (by default its close button).
Qt::WindowFlags BoxFlags(const std::function<void()>& run,
                         const std::function<void(QMessageBox&)>& answer = &QMessageBox::close) {
    Qt::WindowFlags flags;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        flags = box->windowHandle()->flags();
        answer(*box);
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
    std::vector<Qt::WindowFlags> frames = {
        BoxFlags([] { ShowMessageBox(nullptr, QMessageBox::Critical, "t", "x"); }),
        BoxFlags([&] { yes = AskYesNo(nullptr, "t", "?"); },
                 [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); }),
    };
    for (QDialog* d : std::initializer_list<QDialog*>{&settings, &setPoints, &about}) {
        d->show();
        frames.push_back(d->windowHandle()->flags());
    }
    for (const Qt::WindowFlags f : frames) {
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
