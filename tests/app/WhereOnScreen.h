#pragma once

#include "platform/gfx/Point.h"
#include "platform/gfx/Rect.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace corvex {
class HomeViewController;
class View;
class SolarSystemViewController;
} // namespace corvex

namespace corvex::test {

// Where a user sees things on a screen, as points of its window (base coordinates): found
// from the views' frames and the drawings' own geometry, the way the screens lay them out.
// Nothing when the thing is not shown.
class WhereOnScreen
{
public:
    // The middle of a shown view (a button, a field).
    static std::optional<Point> middle(const View& view);

    // ---- The home screen's grid ----
    // The planet of the document whose root idea has this text.
    static std::optional<Point> homeDocument(const HomeViewController& home, const QString& text);
    // The grid where no document is.
    static std::optional<Point> homeEmptySpace(const HomeViewController& home);

    // ---- The mind map ----
    // The planet of the child with this text.
    static std::optional<Point> planet(const SolarSystemViewController& screen, const QString& text);
    // The square the planet of the child with this text is drawn in.
    static std::optional<Rect> planetArea(const SolarSystemViewController& screen, const QString& text);
    // The middle of a planet's note mark, where it is drawn.
    static std::optional<Point> planetNoteMark(const SolarSystemViewController& screen, const QString& text);
    // The middle of the place between planets where a dropped idea lands (adder `index`).
    static std::optional<Point> adder(const SolarSystemViewController& screen, std::int64_t index);
    static std::optional<Point> centre(const SolarSystemViewController& screen);
    static std::optional<Point> parent(const SolarSystemViewController& screen);
    // Inside the mind map, away from planets, the centre, the parent and the orbit's ring.
    static std::optional<Point> emptySpace(const SolarSystemViewController& screen);

    // The top bar's home button.
    static std::optional<Point> homeButton(const SolarSystemViewController& screen);

    // ---- The overview graph ----
    // The node of the idea with this text.
    static std::optional<Point> overviewNode(const SolarSystemViewController& screen, const QString& text);
    // A point on the node's note mark.
    static std::optional<Point> overviewNoteMark(const SolarSystemViewController& screen,
                                                 const QString& text);
};

} // namespace corvex::test
