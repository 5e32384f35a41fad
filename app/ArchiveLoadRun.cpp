#include "ArchiveLoadRun.h"

#include <QProgressDialog>
#include <QWidget>

#include <string>

namespace vg57 {

namespace {

// "12.3" MiB with '.' whatever the regional settings.
QString Mib(std::uint64_t bytes) {
    const std::uint64_t tenths = bytes * 10 / (1024 * 1024);
    return QString::number(tenths / 10) + "." + QString::number(tenths % 10);
}

} // namespace

TArchiveLoadRun::TArchiveLoadRun(QWidget* window, TLoadRequest request, TDone done)
    : window_(window), done_(std::move(done)) {
    delay_.setSingleShot(true);
    delay_.setInterval(kDialogDelayMs);
    connect(&delay_, &QTimer::timeout, this, [this] { ShowDialog(); });
    refresh_.setInterval(100);
    connect(&refresh_, &QTimer::timeout, this, [this] { ShowProgress(); });
    delay_.start();
    // The worker only posts the news; this object lives on the window's thread, and a post to
    // it after its destruction cannot happen: the destructor joins the worker first.
    job_ = std::make_unique<TArchiveLoadJob>(std::move(request), [this] {
        QMetaObject::invokeMethod(
            this, [this] { Finish(); }, Qt::QueuedConnection);
    });
}

TArchiveLoadRun::~TArchiveLoadRun() {
    job_.reset();
    delete dialog_;
}

void TArchiveLoadRun::ShowDialog() {
    if (finished_ || cancelled_) return;
    dialog_ = new QProgressDialog(window_);
    dialog_->setWindowTitle(window_ ? window_->windowTitle() : QString());
    dialog_->setCancelButtonText(QStringLiteral("Отмена"));
    // Not modal: a modal progress dialog handles events inside setValue, and the window stays
    // usable anyway (what must not run under a load is disabled by the window).
    dialog_->setWindowModality(Qt::NonModal);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->setMinimumDuration(0);
    dialog_->setRange(0, 1000);
    connect(dialog_, &QProgressDialog::canceled, this, [this] { Cancel(); });
    ShowProgress();
    dialog_->show();
    refresh_.start();
}

void TArchiveLoadRun::ShowProgress() {
    if (!dialog_) return;
    const TLoadProgress& p = job_->Progress();
    const std::uint64_t read = p.bytesRead.load(), total = p.bytesTotal.load();
    dialog_->setLabelText(QStringLiteral("Загрузка архива…\n") + Mib(read) +
                          QStringLiteral(" из ") + Mib(total) + QStringLiteral(" МБ"));
    dialog_->setValue(total ? static_cast<int>(read * 1000 / total) : 0);
}

void TArchiveLoadRun::Cancel() {
    if (finished_ || cancelled_) return;
    cancelled_ = true;
    job_->Cancel();
    // The worker ends at its next chunk and posts Finish, which hands over the cancelled result.
    if (dialog_) dialog_->hide();
}

void TArchiveLoadRun::Finish() {
    if (finished_) return;
    finished_ = true;
    delay_.stop();
    refresh_.stop();
    if (dialog_) dialog_->hide();
    TLoadResult result = job_->Take();
    if (cancelled_) {
        // Whatever was read, the chart stays as it was.
        result = {};
        result.cancelled = true;
    }
    if (done_) done_(std::move(result));
}

} // namespace vg57
