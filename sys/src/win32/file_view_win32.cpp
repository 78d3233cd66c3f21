#include "sys/file_view.h"

namespace sys {

// Windows programs read the archive as before: the product's payload is
// small, and a file mapped there cannot be cut short by another process, so
// the tools' speed is the only thing a mapping would bring.
bool FileView::Map(const WideFile&, std::int64_t, std::size_t) { return false; }

void FileView::Unmap() {}

bool FileView::Lost() const { return false; }

}  // namespace sys
