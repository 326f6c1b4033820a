#include "scan/canonical_root.h"

#include <stdlib.h>

#include "platform/path_text.h"

namespace tovarek {

bool CanonicalScanRoot(const std::u16string& root, std::u16string& out) {
    if (root.empty()) return false;
    char* resolved = realpath(Utf16ToPath(root).c_str(), nullptr);
    if (!resolved) return false;
    std::string bytes = resolved;
    free(resolved);
    if (bytes.empty() || bytes.back() != '/') bytes.push_back('/');
    out = PathToUtf16(bytes);
    return true;
}

ScanRoots CanonicalScanRoots(const ScanRoots& roots) {
    ScanRoots canonical;
    for (const std::u16string& root : roots) {
        std::u16string resolved;
        canonical.push_back(CanonicalScanRoot(root, resolved) ? resolved : root);
    }
    return canonical;
}

}  // namespace tovarek
