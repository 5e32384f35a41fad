// The real main window offscreen, with the gauge simulator on COM3 and the archive folder, the
// port map and the documents folder in temporary folders. Modal dialogs and message boxes are
// replaced by recorders.
#pragma once

#include "ActionGate.h"
#include "ConnParamsForm.h"
#include "MainForm.h"
#include "MainWindowLink.h"
#include "SimProcess.h"
#include "TempDir.h"

#include "EventLoop.h"

#include <QAction>
#include <QApplication>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace vg57::test {

class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<std::string> args{"--log", home.Path() + "/sim.log"};
        args.insert(args.end(), simArgs.begin(), simArgs.end());
        sim = std::make_unique<SimProcess>(args);
        sim->Command("hold");
        sim->Command("noise off");
        setenv("XDG_CONFIG_HOME", sim->ConfigHome().c_str(), 1);
        setenv("HOME", home.Path().c_str(), 1);
        unsetenv("XDG_DOCUMENTS_DIR");
        // Closing the window must not end the run of the next test.
        QApplication::setQuitOnLastWindowClosed(false);
        platform::ClearQuitRequestForTests();
        window = std::make_unique<TVG57Form>();
        window->showMessage = [this](const QString& text, const QString& detail) {
            messages << text;
            details << detail;
        };
        window->askQuestion = [this](const QString& question) {
            questions << question;
            return false;
        };
        window->connectionExec = [](TSetupCommForm&) { return int(QDialog::Accepted); };
    }
    void TearDown() override {
        window.reset();
        sim.reset();
    }

    // Triggers an action as the operator would (menu, tool bar or shortcut all come here).
    void Press(TActionId id) { window->Action(id)->trigger(); }
    bool Enabled(TActionId id) const { return window->Action(id)->isEnabled(); }
    // Handles events until done() or the timeout.
    static bool Until(const std::function<bool()>& done, int ms = 3000) {
        return PumpUntil(done, ms);
    }
    // Requests the simulator received, in order ("S3", "R1", ...).
    std::vector<std::string> Requests() const;

    TempDir home;
    std::vector<std::string> simArgs; // beyond the log, given before SetUp
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TVG57Form> window;
    QStringList messages, details;
    QStringList questions; // asked of the operator, who answers "Нет"
};

} // namespace vg57::test
