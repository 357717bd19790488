#pragma once
// Connection lists of the peer manager: membership and the deferred free both source files use.
#include <algorithm>
#include <memory>
#include <vector>

#include "rtl/Synchronize.h"

namespace icq::detail {

template <class T>
bool Holds(const std::vector<std::unique_ptr<T>>& list, const T* item) {
  return std::any_of(list.begin(), list.end(), [&](const auto& x) { return x.get() == item; });
}

// Takes item out of list and frees it once the current socket event is over.
template <class T>
void Retire(std::vector<std::unique_ptr<T>>& list, T* item) {
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& x) { return x.get() == item; });
  if (it == list.end()) return;
  std::shared_ptr<T> gone(std::move(*it));
  list.erase(it);
  if (gone->Sock) {
    gone->Sock->FOnReceiveProc = nullptr;
    gone->Sock->FOnDisconnect = nullptr;
    gone->Sock->FOnConnectError = nullptr;
    gone->Sock->FOnError = nullptr;
    gone->Sock->FOnConnectProc = nullptr;
  }
  rtl::Queue([gone] { gone->Sock.reset(); });
}

}  // namespace icq::detail
