#pragma once
// PDFs protected by an owner password only (permissions set, an empty user password) that MuPDF refuses: qpdf opens
// them with the empty password and writes them out unencrypted, into memory.

#include <memory>
#include <string>

namespace unplot::engine {

// The document at `path`, or in `bytes` when that is not null, decrypted; null when qpdf cannot open it without a
// password (or it is not encrypted at all).
std::shared_ptr<const std::string> decryptWithEmptyPassword(const std::string& path, const std::string* bytes);

} // namespace unplot::engine
