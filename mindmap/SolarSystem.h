#pragma once

#include "mindmap/IdeaAdderViewDelegate.h"
#include "mindmap/NoteHoverUtilityDelegate.h"
#include "mindmap/ParentIdeaViewDelegate.h"
#include "mindmap/SolarLayout.h"
#include "mindmap/SolarRotationAnimatorDelegate.h"
#include "mindmap/SolarRotationGestureTarget.h"
#include "platform/core/Completion.h"
#include "platform/core/NotificationCenter.h"
#include "toolkit/BaseView.h"
#include "toolkit/LongTapAndDragGestureDetectorDelegate.h"
#include "toolkit/UserInteractionProtocol.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace corvex {

class Event;
class Idea;
class IdeaAdderView;
class Layer;
class LineLayer;
class LongTapAndDragDetector;
class Menu;
class NoteHoverUtility;
class ParentIdeaView;
class PlanetLayer;
class SimpleIdeaView;
class SolarFocusObject;
class SolarRotationAnimator;
class SolarRotationGestureRecognizer;
class SolarSystemDelegate;
class SolarSystemLayer;
class TrackingArea;

// The radial view of one idea on the mind-map screen: the idea as a large planet in the centre
// (a SimpleIdeaView of role 1), its children as planet layers on a circular orbit around it,
// one "+" adder after each planet (4 placeholder adders without children), the parent as a
// planet pinned to the top-left corner joined to the centre by a connector line, and the orbit
// drawn below them. The view changes no document: every request leaves it through its
// SolarSystemDelegate with idea identifiers, and the screen answers by changing the view
// through the operations below (or by building a new view for another idea).
//
// Index i of the planet list is child i of the shown idea everywhere, in the delegate calls
// too; adder i sits after planet i. Index arguments are trusted as positions of the current
// children, but one that is out of range is ignored (logged where a step relies on it), never
// used to index a list.
//
// A planet's layer and an adder's view are made only while they are drawn (an orbit of
// thousands of children covers most of them, see PlanetCrowding) or asked for: hit tests,
// focus and layout work from the ideas and the orbit positions, and a covered one nobody else
// holds is let go at the next layout.
//
// The view rotates its orbit with the mouse (SolarRotationGestureRecognizer) and runs on with
// inertia (SolarRotationAnimator); it animates drills into a planet and back to the parent
// against a second view (0.35 s, frame by frame, on the main queue); it turns clicks, double
// clicks, long presses, the space bar and right clicks into delegate calls; it keeps the cursor
// and the note hover; and it answers which place would take a dragged idea (focus).
//
// Made through create(). Main thread only.
class SolarSystem : public BaseView,
                    public UserInteractionProtocol,
                    public LongTapAndDragGestureDetectorDelegate,
                    public NoteHoverUtilityDelegate,
                    public IdeaAdderViewDelegate,
                    public ParentIdeaViewDelegate,
                    public SolarRotationAnimatorDelegate,
                    public SolarRotationGestureTarget
{
public:
    // An animation step: progress 0 to 1 (values outside are clamped by the interpolations).
    using AnimationBlock = std::function<void(double progress)>;
    // The end of a drill.
    using Completion = corvex::Completion<>;

    // What lies under a point.
    struct Hit
    {
        enum class Kind
        {
            Nothing,
            Planet,
            Parent,
            Central,
            Adder,
        };
        Kind kind = Kind::Nothing;
        // The planet's or adder's index; kNotFound otherwise.
        std::int64_t index = SolarLayout::kNotFound;
    };

    // The drill and its steps, in seconds and frames a second.
    static constexpr float kDrillDuration = 0.35f;
    static constexpr float kDrillFrameRate = 60.0f;
    // A single click on a planet drills after this, unless a double click came.
    static constexpr double kDrillConfirmationDelay = 0.3;
    // Farther than this from every candidate, a dragged idea has no focus.
    static constexpr float kFocusDistanceLimit = 60.0f;

    // Unprepared: use create().
    SolarSystem(const Rect& frame, const QString& docIdentifier);
    ~SolarSystem() override;

    // Frame and document set; the orbit layer (radius 202, a 1260-point square), the rotation
    // recogniser, the 4 placeholder adders, the tap detector and the note-hover utility (when a
    // factory is registered) made; laid out once; following the appearance settings.
    static std::shared_ptr<SolarSystem> create(const Rect& frame, const QString& docIdentifier);

    // The orbit radius of the normal mode (the orbit layer's natural radius, 202) and of the
    // extended mode (420).
    static double normalModeRadius();
    static double extendedModeRadius();

    QString className() const override;

    const QString& docIdentifier() const { return mDocIdentifier; }
    std::shared_ptr<SolarSystemDelegate> delegate() const { return mDelegate.lock(); }
    // Held weakly.
    void setDelegate(const std::shared_ptr<SolarSystemDelegate>& delegate) { mDelegate = delegate; }

    // ---- Filling (the screen: setParentIdea, startUpdate, setCentralIdea, addIdea..., endUpdate) ----
    // Only for an idea with a parent: a parent view of its picture or of its text and colour
    // (object tag the parent idea, delegate the view), the link flag (a dashed connector), and
    // the connector rebuilt. A null parent logs and changes nothing.
    void setParentIdea(const std::shared_ptr<Idea>& parent, bool asLink);
    // The central view (made on the first call, at the scaling factor, centred) takes the
    // idea's text, icon, note, web-link mark, colour, picture and identifier; the connector
    // is rebuilt. A null idea logs the assertion line and shows empty texts.
    void setCentralIdea(const std::shared_ptr<Idea>& idea);
    // Batch changes: layout is suppressed while the counter is above 0; the endUpdate that
    // brings it back to 0 lays out once. The counter never goes below 0.
    void startUpdate();
    void endUpdate();
    std::int64_t updateSemaphore() const { return mUpdateSemaphore; }

    // ---- Changing the children ----
    // insertIdea after the last planet.
    void addIdea(const std::shared_ptr<Idea>& idea);
    // A new planet and adder grow out of adder (afterIndex mod adder count) and are laid out
    // at index afterIndex + 1 (clamped); outside a batch the orbit turns so that the new planet
    // lands where that adder was. The first planet replaces the placeholder adders. A null
    // idea logs and changes nothing.
    void insertIdea(const std::shared_ptr<Idea>& idea, std::int64_t afterIndex);
    // Planet and adder i leave; the gap their neighbours leave is turned to where the planet
    // was; the last planet's removal brings the placeholders back.
    void removeIdeaAtIndex(std::int64_t index);
    // The planet at fromIndex moves behind afterIndex; the orbit turns to show it at the adder
    // it goes to.
    void moveIdea(const std::shared_ptr<Idea>& idea, std::int64_t fromIndex, std::int64_t afterIndex);
    // Planet i shows the idea again.
    void modifyIdea(const std::shared_ptr<Idea>& idea, std::int64_t index);

    // ---- Layout ----
    // Unless in a batch: the radius for the planet count (unless animating), the central view
    // and orbit placed, then updateViewScaled.
    void updateView();
    // Every planet and adder placed on the orbit for the current offset and radius; unless
    // animating, also scaled, pixel-aligned and restacked (each planet above the one before,
    // starting from the smallest angle).
    void updateViewScaled();
    // The base layout, then performLayout unless a drill animates.
    void applyLayout() override;
    // Central view, orbit, parent and connector placed for the current size, then updateView.
    void performLayout();

    // The sizes for the view's current size (SolarLayout).
    double scalingFactor() const;
    double minRadius() const;
    double maxRadius() const;
    double radiusAllowing(std::int64_t count) const;
    std::int64_t elementsFittingRadius(float radius) const;
    // The layout maths with the current size, radius and planet count.
    SolarLayout solarLayout() const;

    // ---- Queries ----
    std::int64_t ideaViewCount() const override;
    // Null for an index out of range; made (at its place on the orbit) when it was not.
    std::shared_ptr<PlanetLayer> ideaViewAtIndex(std::int64_t index) const;
    std::int64_t ideaAdderViewCount() const;
    // Null for an index out of range; made (at its place on the orbit) when it was not.
    std::shared_ptr<IdeaAdderView> ideaAdderViewAtIndex(std::int64_t index) const;
    // How many planets have a layer, and adders a view, now.
    std::int64_t madeIdeaViewCount() const;
    std::int64_t madeIdeaAdderViewCount() const;
    // The orbit angles of planet and adder i for the current offset (0 for an index out of
    // range is never asked: such an index answers the offset's own angle).
    float currentAngleForIdeaAtIndex(std::int64_t index) const;
    float currentAngleForAdderAtIndex(std::int64_t index) const;
    float angleForElementAtIndex(std::int64_t index, std::int64_t count, float offset) const;
    float angleOffsetForShowingElementAtIndex(std::int64_t index, std::int64_t count, float angle) const;
    // The planet's frame; the zero rectangle without such a planet.
    Rect popoverRectForIdeaAtIndex(std::int64_t index) const;
    // Planet i half transparent, every other one not; removeAllShadows clears them all.
    void setShadowForIdeaAtIndex(std::int64_t index);
    void removeAllShadows();
    bool dockingMode() const { return mDockingMode; }
    // Adders show the dock mark (state 3) while docking, the plus (state 1, not in focus)
    // otherwise; then a layout.
    void setDockingMode(bool docking);
    // Every planet restyled and redrawn.
    void appearanceSettingsChanged();

    float currentAngle() const { return mCurrentAngle; }
    // The orbit's rotation offset, as a finished rotation leaves it; then a layout.
    void setCurrentAngle(float angle);
    float radius() const { return mRadius; }
    bool isAnimating() const { return mAnimating; }
    bool showingLink() const { return mShowingLink; }
    const std::shared_ptr<SimpleIdeaView>& centralView() const { return mCentralView; }
    const std::shared_ptr<ParentIdeaView>& parentView() const { return mParentView; }
    const std::shared_ptr<LineLayer>& lineLayer() const { return mLineLayer; }
    const std::shared_ptr<SolarSystemLayer>& orbitLayer() const { return mOrbitLayer; }
    // The line a drill down adds (joining the new parent to the new centre); null otherwise.
    const std::shared_ptr<LineLayer>& drillLineLayer() const { return mDrillLineLayer; }
    const std::shared_ptr<SolarRotationAnimator>& rotationAnimator() const { return mSolarRotationAnimator; }
    const std::shared_ptr<SolarRotationGestureRecognizer>& rotationGestureRecognizer() const
    {
        return mSolarRotationGestureRecognizer;
    }
    const std::shared_ptr<LongTapAndDragDetector>& tapDetector() const { return mLongTapAndDragDetector; }
    // Null without a registered note-hover factory.
    NoteHoverUtility* noteHoverUtility() const { return mNoteHoverUtility.get(); }
    const std::shared_ptr<TrackingArea>& trackingArea() const { return mTrackingArea; }
    // The pending single-click drill's token; null when none waits.
    const std::shared_ptr<const int>& drillWaitingConfirmation() const { return mDrillWaitingConfirmation; }

    // ---- UserInteractionProtocol ----
    bool userInteractionEnabled() const override { return !mUserInteractionDisabled; }
    void setUserInteractionEnabled(bool enabled) override { mUserInteractionDisabled = !enabled; }

    // ---- Rotation (SolarRotationGestureTarget, SolarRotationAnimatorDelegate) ----
    // No planets or a drill under way: a rotation may not start.
    bool shouldIgnoreRotationStart() const;
    // Ignored when a rotation may not start (and then the rest of that gesture is ignored
    // too); otherwise a spin still running is stopped and a fresh animator follows the drag.
    void handleBeginRotationGesture(SolarRotationGestureRecognizer& recognizer, float angle) override;
    void handleChangeRotationGesture(SolarRotationGestureRecognizer& recognizer,
                                     float rotationAngle) override;
    void handleEndRotationGesture(SolarRotationGestureRecognizer& recognizer) override;
    void handleEndRotationGesture(SolarRotationGestureRecognizer& recognizer, float angularVelocity) override;
    float orbitVisualRadius() const override { return mRadius; }
    float orbitLogicalRadius() const override { return mRadius; }
    // The central view's centre (the view's centre point before there is one).
    Point orbitVisualCenter() const override;
    Point convertPointFromWindow(Point windowPoint) const override;
    // The angle becomes the offset and the planets are laid out, while the view holds an
    // animator.
    void angleUpdate(float angle) override;
    void rotationEnded() override;
    // Cancels and drops the animator; the drill flag goes down.
    void stopAnimations();

    // ---- Drills ----
    // Sent to the old view: planet `index` travels to the centre and grows to the central
    // size while the old centre slides into the parent's corner, and the new view (below this
    // one, same frame) unfolds from half size. The completion runs once at the end (the
    // screen removes the old view there). A missing planet logs the assertion line; the
    // animation then moves nothing here and still ends and completes once.
    void animateDrillDownInto(std::int64_t index, const std::shared_ptr<SolarSystem>& newSolarSystem,
                              Completion completion);
    // Sent to the new (parent's) view: the same motion backwards, `index` being the planet
    // that shows the old centre.
    void animateDrillUpFrom(std::int64_t index, const std::shared_ptr<SolarSystem>& oldSolarSystem,
                            Completion completion);
    // The step of this view when planet `index` is opened (simulated: without the line that
    // will join the new parent to the new centre).
    AnimationBlock prepareDrillDownAnimation(std::int64_t index, bool simulated);
    // The step that shrinks this view towards its centre (1: half size, centre hidden).
    AnimationBlock prepareCollapseAnimation();

    // ---- Input ----
    bool acceptsFirstResponder() const override { return true; }
    void mouseDown(const Event& event) override;
    void mouseDragged(const Event& event) override;
    void mouseUp(const Event& event) override;
    // The cursor and note hover first, then the base class.
    void mouseMoved(const Event& event) override;
    // The space bar asks for a new idea after the last planet; other keys go on.
    void keyDown(const Event& event) override;
    // The delegate's menu for the planet, centre or parent under the event; null elsewhere.
    // Works while input is disabled.
    std::shared_ptr<Menu> menuForEvent(const Event& event) override;
    // One area over the bounds: entered and exited, moved, cursor update, active in the
    // active application.
    void updateTrackingAreas() override;
    // Open hand in the rotation ring, arrow elsewhere on empty space, pointing hand over
    // planets, the centre, the parent and adders, the contextual-menu cursor over a note
    // badge (and the note to the note-hover utility). Nothing while another screen lies over
    // the mind map in the document window's container view.
    void cursorUpdate(const Event& event) override;

    // What lies under a point in window coordinates: a planet (the top-most whose centre is
    // closer than its radius), then the parent, the central view, the adders in list order.
    Hit viewAtPoint(Point pointInWindow) const;
    // The index of the top-most planet at a point in the view's coordinates; kNotFound.
    std::int64_t ideaViewAt(Point pointInView) const;

    // LongTapAndDragGestureDetectorDelegate (points in window coordinates).
    std::shared_ptr<void> startDragGestureIfPossible(Point point) override;
    void dragGestureUpdate(Point point) override;
    void dragGestureDone(Point point) override;
    void dragGestureCancel(Point point) override;
    void singleTap(Point point) override;
    void doubleTap(Point point) override;

    void handleTapOnIdeaLayer(std::int64_t index);
    void handleDoubleTapOnIdeaLayer(std::int64_t index);
    void handleTapOnCentralView();
    void handleTapOnParentIdeaView(ParentIdeaView& view) override;
    void handleTapOnIdeaAdderView(IdeaAdderView& adder) override;
    // The space bar: a new idea after the last planet (-1 without planets), from the frame of
    // adder max(min(adder count, n - 1), 0).
    void qvAddNewElement();

    // NoteHoverUtilityDelegate: the view itself; a note shows while the user works here: the
    // window is key, no other screen lies over the map and the pointer is over it.
    std::shared_ptr<View> hostViewForNoteHoverDisplay() override;
    bool isNoteHoverDisplayAllowed() const override;

    // ---- Focus for drops ----
    // The nearest candidate becomes the focus unless it is farther than 60 points; marks it
    // and answers the distance (the largest float without focus).
    float updateFocusBasedOnPoint(Point point, const View* inView);
    const std::shared_ptr<SolarFocusObject>& currentFocusObject() const { return mObjectAtFocus; }
    // No focus, no marks.
    void stopFocusing();
    // The parent (distance: how far right of or below its centre), the visible adders and the
    // planets that are not links, by distance; ties keep the earlier. Null without any;
    // `outDistance` (optional) gets the best distance, the largest float without one.
    std::shared_ptr<SolarFocusObject> closestViewToPoint(Point point, const View* inView,
                                                         float* outDistance) const;
    // Adder i in focus exactly when it is the focus; the focused planet swells to 1.1 at
    // distance 0, linearly back to 1.0 at 80 points; every other planet at 1.0.
    void markViewInFocus(const std::shared_ptr<SolarFocusObject>& focus, float distance);

protected:
    void prepareSolarSystem();

private:
    // Layout helpers.
    // Puts the centre of a layer's bounds at `centre` through its position, so that a layer
    // scaled about its centre (a swelling or drilling planet) keeps its bounds: setting the
    // frame of a transformed layer would resize them.
    static void placeLayerCentre(Layer& layer, Point centre);
    void restackPlanets(std::int64_t lowest);
    // How each planet is drawn (PlanetCrowding), by index; `centres` by index.
    std::vector<std::uint8_t> crowdedDrawings(std::int64_t lowest, const std::vector<Point>& centres) const;
    // Planet layers made on demand (SolarSystemPlanets.cpp). The layer of planet i, made when missing;
    // `inOrder` puts a new one at its place in the stack, else on top (a restack follows).
    const std::shared_ptr<PlanetLayer>& makePlanet(std::int64_t index, bool inOrder);
    // Lets go of planet i's layer when nothing but this view holds it.
    void releasePlanetIfUnused(std::int64_t index);
    // Planet i's layer placed, scaled and drawn as the last layout decided.
    void placePlanet(PlanetLayer& planet, std::int64_t index);
    float planetRadius() const;
    Point planetCentre(std::int64_t index) const;
    QString planetIdentifier(std::int64_t index) const;
    // The same for adders (SolarSystemAdders.cpp): one another adder lies on (PlanetCrowding's
    // covered) has no view.
    const std::shared_ptr<IdeaAdderView>& makeAdderAt(std::int64_t index);
    void releaseAdderIfUnused(std::int64_t index);
    void insertAdder(std::int64_t index, const std::shared_ptr<Idea>& tag, Point centre,
                     std::shared_ptr<IdeaAdderView> adder);
    void placeAdders(const SolarLayout& layout, Point centre, float radius);
    Point adderCentre(std::int64_t index) const;
    // Whether a point in the view's coordinates lies on adder i, made or not.
    bool adderContains(std::int64_t index, Point point) const;
    void ensureIdeaAddersWhenEmpty();
    std::shared_ptr<IdeaAdderView> makeAdder(const std::shared_ptr<Idea>& tag);
    void rebuildLineLayer();
    void centreCentralView();
    void placeOrbitLayer();
    Point centralCentre() const;
    std::int64_t indexOfAdder(const IdeaAdderView* adder) const;
    bool validPlanetIndex(std::int64_t index) const;
    // Drill helpers.
    void runDrillAnimation(const std::shared_ptr<SolarSystem>& other, AnimationBlock thisStep,
                           AnimationBlock otherStep, bool drillDown, Completion completion);
    // Input helpers.
    // Whether another screen is shown over this view in its window's container.
    bool coveredByAnotherScreen() const;
    void observeNote(const std::optional<QString>& note, const QString& ideaIdentifier, Point viewPoint);

    QString mDocIdentifier;
    // By index: the child, its layer (null until made) and, from the last layout, its centre
    // and how it is drawn (PlanetCrowding::Drawing).
    std::vector<std::shared_ptr<Idea>> mIdeas;
    std::vector<std::shared_ptr<PlanetLayer>> mIdeaViews;
    std::vector<Point> mPlanetCentres;
    std::vector<std::uint8_t> mPlanetDrawings;
    // The planet at the bottom of the stack at the last restack.
    std::int64_t mStackLowest = 0;
    // Carried over to planets made later: the shadowed index and the collapse's scale.
    std::int64_t mShadowIndex = SolarLayout::kNotFound;
    double mPlanetTransformScale = 1.0;
    // By index: the adder's idea, its view (null until made) and its centre from the last
    // layout.
    std::vector<std::shared_ptr<Idea>> mAdderTags;
    std::vector<std::shared_ptr<IdeaAdderView>> mIdeaAdderViews;
    std::vector<Point> mAdderCentres;
    float mCurrentAngle = 0;
    float mRadius = 0;
    std::shared_ptr<SolarRotationAnimator> mSolarRotationAnimator;
    std::shared_ptr<SolarRotationGestureRecognizer> mSolarRotationGestureRecognizer;
    std::shared_ptr<SolarSystemLayer> mOrbitLayer;
    std::shared_ptr<LineLayer> mLineLayer;
    std::shared_ptr<LineLayer> mDrillLineLayer;
    std::shared_ptr<SimpleIdeaView> mCentralView;
    std::shared_ptr<ParentIdeaView> mParentView;
    std::shared_ptr<const int> mDrillWaitingConfirmation;
    bool mAnimating = false;
    bool mShowingLink = false;
    // Whether the rotation gesture under way was accepted at its begin; its changes and end
    // do nothing otherwise.
    bool mRotationGestureAccepted = false;
    std::int64_t mUpdateSemaphore = 0;
    std::shared_ptr<LongTapAndDragDetector> mLongTapAndDragDetector;
    std::shared_ptr<SolarFocusObject> mObjectAtFocus;
    bool mUserInteractionDisabled = false;
    std::shared_ptr<TrackingArea> mTrackingArea;
    std::unique_ptr<NoteHoverUtility> mNoteHoverUtility;
    bool mDockingMode = false;
    std::weak_ptr<SolarSystemDelegate> mDelegate;
    NotificationCenter::ObserverToken mAppearanceObserver;
};

} // namespace corvex
