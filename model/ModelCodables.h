#pragma once

namespace corvex {

// Registers the model's codable classes of ideas and their values ("Idea", "IconImage",
// "PortableImage") with the CodableRegistry. Decoders call it before their first read; any
// number of calls, from any thread, registers once.
void registerModelCodables();

} // namespace corvex
