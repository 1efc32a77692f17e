#pragma once

#include <QByteArray>
#include <functional>

namespace corvex {

class Idea;

// The seam through which the web export gets files/preview.png: the image exporter
// registers its PNG maker (the tree drawn as the overview graph on white) at start-up.
// Without one, exports carry no preview and say so once in the log.
class WebExportPreview
{
public:
    WebExportPreview() = delete;

    // PNG bytes of the tree; empty when it cannot be drawn. Called on the exporter's queue
    // with a tree no other thread touches.
    using Renderer = std::function<QByteArray(const Idea& root)>;

    // Any thread; replaces the one registered before (empty: none).
    static void registerRenderer(Renderer renderer);
    static Renderer renderer();
};

} // namespace corvex
