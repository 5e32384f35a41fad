// An archive load as the window runs it: the files read on a worker thread, a progress dialog
// once the load has taken 300 ms, and the result handed over on the window's thread.
#pragma once

#include "ArchiveLoadJob.h"

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>

#include <functional>
#include <memory>

class QWidget;

namespace vg57 {

class TArchiveLoadRun : public QObject {
    Q_OBJECT
public:
    static constexpr int kDialogDelayMs = 300;
    using TDone = std::function<void(TLoadResult&& result)>;

    // `done` is called once, from the event loop: with the result, or with a cancelled one
    // after Cancel, whatever the worker had read by then. It may deleteLater() this object.
    TArchiveLoadRun(QWidget* window, TLoadRequest request, TDone done);
    // Cancels and joins the worker; `done` is not called any more.
    ~TArchiveLoadRun() override;

    // The dialog's "Отмена".
    void Cancel();
    QProgressDialog* Dialog() const { return dialog_; }

private:
    void ShowDialog();
    void ShowProgress();
    void Finish();

    QWidget* window_;
    TDone done_;
    bool cancelled_ = false, finished_ = false;
    QTimer delay_, refresh_;
    // A child of the window, deleted with this run, or before it with the window (a finished
    // run is deleted later, possibly after the window).
    QPointer<QProgressDialog> dialog_;
    std::unique_ptr<TArchiveLoadJob> job_;
};

} // namespace vg57
