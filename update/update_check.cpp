#include "update/update_check.h"

#include "common/not_available.h"

void throwIfCancelled(const CancelQuery&) { notAvailable("throwIfCancelled"); }

void postStatus(const StatusCallback&, const CancelQuery&, const std::wstring&) {
  notAvailable("postStatus");
}

UpdateCheckResult checkAndDownload(const std::wstring&, const std::wstring&, const StatusCallback&,
                                   const CancelQuery&, const std::wstring&) {
  notAvailable("checkAndDownload");
}
