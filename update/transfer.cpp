#include "update/transfer.h"

#include "common/not_available.h"

TransferResult fetchUrl(const std::wstring&, const std::wstring&, std::uint64_t,
                        const std::function<bool()>&) {
  notAvailable("fetchUrl");
}
