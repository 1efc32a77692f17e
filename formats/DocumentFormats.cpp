#include "formats/DocumentFormats.h"

#include "formats/DocumentFileImporter.h"
#include "formats/OPMLParser.h"
#include "model/OPMLParserInterface.h"
#include "storage/DocumentImporter.h"

#include <memory>

namespace corvex {

void registerDocumentFormats()
{
    DocumentImporter::install(std::make_shared<DocumentFileImporter>());
    OPMLParserInterface::installFactory([] { return std::make_unique<OPMLParser>(); });
}

} // namespace corvex
