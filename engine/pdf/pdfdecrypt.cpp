#include "pdfdecrypt.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

namespace unplot::engine {

std::shared_ptr<const std::string> decryptWithEmptyPassword(const std::string& path, const std::string* bytes)
{
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        if (bytes)
            pdf.processMemoryFile("the PDF", bytes->data(), bytes->size(), "");
        else
            pdf.processFile(path.c_str(), "");
        if (!pdf.isEncrypted())
            return nullptr;
        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        writer.setPreserveEncryption(false);
        writer.write();
        const auto buffer = writer.getBufferSharedPointer();
        return std::make_shared<const std::string>(reinterpret_cast<const char*>(buffer->getBuffer()),
                                                   buffer->getSize());
    } catch (const std::exception&) {
        return nullptr; // a password is needed, or qpdf cannot read the file either
    }
}

} // namespace unplot::engine
