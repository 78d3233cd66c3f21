#include "sys/file_view.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace sys {

namespace {

// The views mapped at a time, as the bus-error handler finds them. A fixed
// table: the handler may run at any moment and must not take a lock or
// allocate. More views at once than slots simply read the file instead.
struct Guard {
  std::atomic<bool> taken{false};
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::size_t> size{0};
  std::atomic<bool> lost{false};
};
constexpr int kGuards = 16;
Guard guards[kGuards];
struct sigaction previous;
std::once_flag installed;
bool guarded = false;
std::uintptr_t pageSize = 4096;

void OnBusError(int signal, siginfo_t* info, void* context) {
  auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (Guard& guard : guards) {
    std::uintptr_t begin = guard.begin.load(std::memory_order_acquire);
    std::size_t size = guard.size.load(std::memory_order_acquire);
    if (begin == 0 || at < begin || at - begin >= size) continue;
    // The file shrank under the view: zeros from here to the view's end,
    // so that the access goes on and the reader finds the view lost.
    std::uintptr_t page = at & ~(pageSize - 1);
    if (::mmap(reinterpret_cast<void*>(page), begin + size - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED,
               -1, 0) == MAP_FAILED)
      break;
    guard.lost.store(true, std::memory_order_release);
    return;
  }
  // Not a view's: as the process had it.
  if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
    previous.sa_sigaction(signal, info, context);
    return;
  }
  if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
    return;
  }
  // Returning runs the access again, which now ends the process as it would
  // have without us (an ignored bus error would only repeat for ever).
  struct sigaction standard = {};
  standard.sa_handler = SIG_DFL;
  ::sigaction(SIGBUS, &standard, nullptr);
}

void Install() {
  long page = ::sysconf(_SC_PAGESIZE);
  if (page > 0) pageSize = static_cast<std::uintptr_t>(page);
  struct sigaction action = {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  guarded = ::sigaction(SIGBUS, &action, &previous) == 0;
}

int Claim() {
  for (int i = 0; i < kGuards; ++i)
    if (!guards[i].taken.exchange(true, std::memory_order_acq_rel)) return i;
  return -1;
}

}  // namespace

bool FileView::Map(const WideFile& file, std::int64_t offset, std::size_t length) {
  Unmap();
  if (!file.IsOpen() || offset < 0 || length == 0) return false;
  std::call_once(installed, Install);
  if (!guarded) return false;
  int slot = Claim();
  if (slot < 0) return false;
  std::int64_t start = offset - offset % static_cast<std::int64_t>(pageSize);
  std::size_t span = length + static_cast<std::size_t>(offset - start);
  // Populated at once: one call rather than a fault every few pages.
  void* base = ::mmap(nullptr, span, PROT_READ, MAP_SHARED | MAP_POPULATE, static_cast<int>(file.Handle()),
                      static_cast<off_t>(start));
  if (base == MAP_FAILED) {
    guards[slot].taken.store(false, std::memory_order_release);
    return false;
  }
  Guard& guard = guards[slot];
  guard.lost.store(false, std::memory_order_relaxed);
  guard.size.store(span, std::memory_order_release);
  guard.begin.store(reinterpret_cast<std::uintptr_t>(base), std::memory_order_release);
  guard_ = slot;
  base_ = base;
  mapped_ = span;
  data_ = static_cast<const std::uint8_t*>(base) + (offset - start);
  size_ = length;
  offset_ = offset;
  return true;
}

void FileView::Unmap() {
  if (!base_) return;
  Guard& guard = guards[guard_];
  // Out of the handler's sight before the addresses can be another's.
  guard.begin.store(0, std::memory_order_release);
  guard.size.store(0, std::memory_order_release);
  ::munmap(base_, mapped_);
  guard.taken.store(false, std::memory_order_release);
  base_ = nullptr;
  mapped_ = 0;
  data_ = nullptr;
  size_ = 0;
  guard_ = -1;
}

bool FileView::Lost() const { return guard_ >= 0 && guards[guard_].lost.load(std::memory_order_acquire); }

}  // namespace sys
