#include "ArchiveLoadJob.h"

namespace vg57 {

TArchiveLoadJob::TArchiveLoadJob(TLoadRequest request, std::function<void()> finished)
    : worker_([this, request = std::move(request), finished = std::move(finished)] {
          TLoadResult result = LoadArchives(request, progress_);
          {
              std::lock_guard lock(mutex_);
              result_ = std::move(result);
          }
          if (finished) finished();
      }) {}

TArchiveLoadJob::~TArchiveLoadJob() {
    Cancel();
    if (worker_.joinable()) worker_.join();
}

TLoadResult TArchiveLoadJob::Take() {
    if (worker_.joinable()) worker_.join();
    std::lock_guard lock(mutex_);
    return std::move(result_);
}

} // namespace vg57
