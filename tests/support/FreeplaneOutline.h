#pragma once

#include <QByteArray>

namespace corvex::test {

// An outline as Freeplane exports a map: the map's root as the one outline of the body,
// two-space indents, a standalone declaration.
inline const QByteArray kFreeplaneOpml = "<?xml version=\"1.0\" standalone=\"no\"?>\n"
                                         "<opml version=\"1.0\">\n"
                                         "  <head>\n"
                                         "    <title>Trip</title>\n"
                                         "  </head>\n"
                                         "  <body>\n"
                                         "    <outline text=\"Trip\">\n"
                                         "      <outline text=\"Pack\">\n"
                                         "        <outline text=\"Tent\"/>\n"
                                         "      </outline>\n"
                                         "      <outline text=\"Go\"/>\n"
                                         "    </outline>\n"
                                         "  </body>\n"
                                         "</opml>\n";

} // namespace corvex::test
