// One archive load on a worker thread of its own, so that the window keeps repainting.
#pragma once

#include "ArchiveLoader.h"

#include <functional>
#include <mutex>
#include <thread>

namespace vg57 {

class TArchiveLoadJob {
public:
    // Starts reading at once. `finished` is called once, on the worker thread, when the result
    // is ready (loaded, refused or cancelled); it must only hand the news over (post an event).
    TArchiveLoadJob(TLoadRequest request, std::function<void()> finished);
    // Cancels and joins: the worker stops at its next chunk of 256 KiB. Not from `finished`.
    ~TArchiveLoadJob();
    TArchiveLoadJob(const TArchiveLoadJob&) = delete;
    TArchiveLoadJob& operator=(const TArchiveLoadJob&) = delete;

    void Cancel() { progress_.cancel = true; }
    const TLoadProgress& Progress() const { return progress_; }
    // The result, once `finished` has been called; joins the worker (which is then ending).
    TLoadResult Take();

private:
    TLoadProgress progress_;
    std::mutex mutex_;
    TLoadResult result_; // guarded by mutex_: written by the worker, taken by the owner
    std::thread worker_; // last: started after everything it uses
};

} // namespace vg57
