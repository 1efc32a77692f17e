#pragma once

namespace corvex {

// Installs the readers of exchanged files into the lower layers' seams: the archive and
// OPML importer into the storage facade, the OPML parser into the document payload. The
// application calls it once at start-up; tests call it before importing. Calling it again
// is harmless.
void registerDocumentFormats();

} // namespace corvex
