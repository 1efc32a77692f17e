#pragma once

#include "platform/gfx/AffineTransform.h"
#include "platform/gfx/Path.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/Rect.h"
#include "platform/gfx/Transform3D.h"
#include "platform/ui/AnimationValue.h"
#include "platform/ui/LayerAction.h"
#include "platform/ui/LayerProperties.h"

#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTransform>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class Animation;
class CompositorScaler;
class GraphicsContext;
class LayerAnimator;
class LayerDelegate;

// A layer: a retained node of the window's tree with the geometry, appearance, contents and
// animation rules below.
//
// Geometry. A point p of the layer's bounds space maps into its superlayer's space as
// position + T * (p - bounds.origin - anchorPoint * bounds.size), T the 2D part of the
// transform. geometryFlipped flips the y axis of the layer's own coordinate space (the one
// its sublayers, its drawing and the conversions use) within its bounds; a layer is
// effectively flipped (contentsAreFlipped) when the flags along its superlayer chain,
// itself included, XOR to true. The tree's base space (the root's superlayer space, a
// window's base coordinates) is y-up.
//
// Contents are an image drawn stretched into the bounds, upright on screen whatever the
// flags; drawn contents are cached at contentsScale and redrawn only after setNeedsDisplay.
//
// Changes. Setters change the model values at once; the compositor shows the presentation
// values (the model with the running animations applied, on the media clock). Each change
// of an animatable value looks up an action (Transaction, LayerDelegate, the actions table,
// the default) and may add an implicit animation from the presented value to the new one;
// a layer that was never committed or drawn gets none. Each change also sets a dirty flag
// and links the layer once into its root's dirty list, which the compositor consumes once a
// frame.
//
// Ownership: layers live in std::shared_ptr (the tree, the animation driver and the dirty
// list rely on it); a superlayer owns its sublayers, sublayers point back without owning.
// Main thread only.
class Layer : public std::enable_shared_from_this<Layer>
{
public:
    // When you add a flag here, don't forget to update dirtyToString().
    enum DirtyFlag : std::uint32_t
    {
        DirtyBounds = 1u << 0,
        DirtyPosition = 1u << 1,
        DirtyAnchorPoint = 1u << 2,
        DirtyTransform = 1u << 3,
        DirtyOpacity = 1u << 4,
        DirtyHidden = 1u << 5,
        DirtyGeometryFlipped = 1u << 6,
        DirtyBackground = 1u << 7,
        DirtyBorder = 1u << 8,
        DirtyCornerRadius = 1u << 9,
        DirtyMasksToBounds = 1u << 10,
        DirtyContents = 1u << 11,
        DirtySublayers = 1u << 12,
        DirtyAnimations = 1u << 13,
        DirtyZPosition = 1u << 14,
        DirtyMaskPath = 1u << 15,
    };
    using DirtyFlags = std::uint32_t;

    // Edge antialiasing bits, as the platform numbers them.
    enum EdgeMask : unsigned
    {
        LeftEdge = 1u << 0,
        RightEdge = 1u << 1,
        BottomEdge = 1u << 2,
        TopEdge = 1u << 3,
        AllEdges = 15u,
    };

    Layer();
    // The copy initialiser (for subclasses' copies, as presentation copies are made): the
    // model values, appearance, contents, name, delegate and actions. Not copied: sublayers,
    // superlayer, animations, dirty state; the copy is a new layer that was never committed.
    Layer(const Layer& other);
    Layer& operator=(const Layer&) = delete;
    virtual ~Layer();

    static std::shared_ptr<Layer> create();
    // A layer made for a view: anchor point (0, 0) (so that position is the frame's origin)
    // and geometryFlipped as given, so that the view's subviews, raw sublayers and drawing
    // use the view's own coordinates.
    static std::shared_ptr<Layer> createBackingLayer(bool flipped);
    // The same set-up on an existing layer (a view's layer subclass); runs no action.
    void prepareAsBackingLayer(bool flipped);

    // The class name shown by dumpTree(); subclasses answer their own.
    virtual QString className() const;

    // ---- Geometry (model values) ----
    const Rect& bounds() const { return mModel.bounds; }
    void setBounds(const Rect& bounds);
    Point position() const { return mModel.position; }
    void setPosition(Point position);
    Point anchorPoint() const { return mModel.anchorPoint; }
    void setAnchorPoint(Point anchorPoint);
    const Transform3D& transform() const { return mModel.transform; }
    void setTransform(const Transform3D& transform);
    AffineTransform affineTransform() const { return mModel.transform.affine(); }
    void setAffineTransform(const AffineTransform& transform);
    // The bounding box of the transformed bounds in the superlayer's space.
    Rect frame() const { return mModel.frame(); }
    // Sets the bounds size and the position (origin + anchorPoint * size); meaningful only
    // with an identity transform, as on the platform.
    void setFrame(const Rect& frame);

    float opacity() const { return mModel.opacity; }
    void setOpacity(float opacity);
    bool isHidden() const { return mHidden; }
    void setHidden(bool hidden);
    bool isGeometryFlipped() const { return mGeometryFlipped; }
    void setGeometryFlipped(bool flipped);
    // Whether the layer's own space is y-down relative to the tree's base: the XOR of
    // geometryFlipped over this layer and its superlayers. drawInContext gets a y-down
    // context exactly when this is true.
    bool contentsAreFlipped() const;

    // ---- Appearance ----
    const PlatformColor& backgroundColor() const { return mModel.backgroundColor; }
    void setBackgroundColor(const PlatformColor& color);
    const PlatformColor& borderColor() const { return mModel.borderColor; }
    void setBorderColor(const PlatformColor& color);
    // The border lies inside the bounds and is drawn above the contents and the sublayers.
    double borderWidth() const { return mModel.borderWidth; }
    void setBorderWidth(double width);
    // Rounds the background and the border; clips contents and sublayers only together with
    // masksToBounds.
    double cornerRadius() const { return mModel.cornerRadius; }
    void setCornerRadius(double radius);
    bool masksToBounds() const { return mMasksToBounds; }
    void setMasksToBounds(bool masks);
    // A mask by a closed path in the layer's own space (non-zero winding): the background,
    // contents, sublayers and border show only inside it, with antialiased edges, and the
    // layer and its sublayers are hit only there. std::nullopt clears it; an empty path hides
    // everything. Not animated.
    const std::optional<Path>& maskPath() const;
    void setMaskPath(std::optional<Path> path);
    // A hint that the layer fills its bounds with opaque pixels; nothing relies on it.
    bool isOpaque() const { return mOpaque; }
    void setOpaque(bool opaque);
    QString name() const;
    void setName(const QString& name);
    unsigned edgeAntialiasingMask() const;
    void setEdgeAntialiasingMask(unsigned mask);

    // ---- Tree ----
    std::shared_ptr<Layer> superlayer() const;
    const std::vector<std::shared_ptr<Layer>>& sublayers() const { return mSublayers; }
    // The order among siblings: sublayers are drawn (and hit-tested, from the top) in
    // ascending zPosition, ties in sublayer order. Default 0; NaN counts as 0. Not animated.
    double zPosition() const { return mZPosition; }
    void setZPosition(double zPosition);
    // The sublayers from bottom to top as drawn: by zPosition, ties in sublayer order.
    std::vector<Layer*> sublayersInDrawingOrder() const;
    void setSublayers(const std::vector<std::shared_ptr<Layer>>& sublayers);
    // Adding a layer takes it out of its current superlayer first. A layer cannot be added to
    // itself or below one of its sublayers: that logs and changes nothing.
    void addSublayer(const std::shared_ptr<Layer>& layer);
    void insertSublayer(const std::shared_ptr<Layer>& layer, int index);
    // A sibling that is not a sublayer logs and adds the layer on top.
    void insertSublayerBelow(const std::shared_ptr<Layer>& layer, const Layer* sibling);
    void insertSublayerAbove(const std::shared_ptr<Layer>& layer, const Layer* sibling);
    void replaceSublayer(const Layer* oldLayer, const std::shared_ptr<Layer>& newLayer);
    void removeFromSuperlayer();
    // The topmost superlayer (this layer when it has none).
    Layer* rootLayer();
    const Layer* rootLayer() const;
    // True for this layer itself too.
    bool isDescendantOf(const Layer* ancestor) const;

    // ---- Coordinate conversion (model values; nullptr stands for the tree's base space) ----
    Point convertPointFromLayer(Point point, const Layer* layer) const;
    Point convertPointToLayer(Point point, const Layer* layer) const;
    Rect convertRectFromLayer(const Rect& rect, const Layer* layer) const;
    Rect convertRectToLayer(const Rect& rect, const Layer* layer) const;
    // Maps the layer's own space to the tree's base space.
    QTransform transformToBase() const;
    // Whether the point (in the layer's own space) lies in its bounds.
    bool containsPoint(Point point) const;
    // The deepest visible layer of this subtree whose bounds hold the point (given in the
    // superlayer's space), sublayers front to back (the reverse of the drawing order); null
    // when none does. Outside a layer's mask (its bounds with masksToBounds, its mask path)
    // neither the layer nor its sublayers are hit.
    std::shared_ptr<Layer> hitTest(Point pointInSuperlayer);

    // ---- Contents ----
    // The image shown stretched into the bounds; drawn contents replace it.
    const QImage& contents() const { return mContents; }
    void setContents(const QImage& image);
    // Device pixels per point of drawn contents (default 1).
    double contentsScale() const { return mContentsScale; }
    void setContentsScale(double scale);
    void setNeedsDisplay();
    bool needsDisplay() const { return mNeedsDisplay; }
    bool needsDisplayOnBoundsChange() const { return mNeedsDisplayOnBoundsChange; }
    void setNeedsDisplayOnBoundsChange(bool needs);
    void displayIfNeeded();
    // Redraws the contents: the delegate's displayLayer, else drawInContext into a new image
    // of bounds size x contentsScale pixels. A layer that draws directly only clears the mark.
    virtual void display();
    // Takes now the memory the next display draws into (cleared, shown as nothing until
    // then): a layer kept for later draws its first picture without faulting in new pages.
    // A layer that draws directly, holds contents already or has no drawable size takes
    // nothing.
    void prepareContents();
    // Whether the layer draws straight into the compositor's target, at the target's
    // resolution, every time it is composited, instead of caching contents: the compositor
    // calls drawInContext (with the opacity as the context's alpha, cut to the bounds) where
    // it would draw cached contents; setNeedsDisplay still asks for a frame. For drawings
    // that change every frame and cover little of their bounds (a thin ring in a large
    // square), whose cache would be redrawn and composited whole every frame. Turning it on
    // drops the contents.
    bool drawsDirectly() const { return mDrawsDirectly; }
    void setDrawsDirectly(bool direct);
    // Whether the layer's drawInContext may run on another thread while the main thread
    // waits, beside other such layers' drawing: it reads only the layer's own state and what
    // is safe on any thread (fonts, colours, the named-image cache), and changes nothing but
    // the layer's own caches. The display pass of a frame (displayDirtyLayersConcurrently)
    // then draws them at once on the cores the process has; a delegate is still asked first,
    // on the main thread, whether it displays the layer itself.
    bool drawsAsynchronously() const { return mDrawsAsynchronously; }
    void setDrawsAsynchronously(bool asynchronously) { mDrawsAsynchronously = asynchronously; }
    // On a root: displays now, at once, the layers of its tree marked dirty and needing
    // display that draw asynchronously (DispatchApply), when there are at least two; their
    // new contents belong to the frame being prepared. Answers how many were drawn. Main
    // thread only.
    int displayDirtyLayersConcurrently();
    // Draws the contents; the context's user space is the bounds, y-down when the layer is
    // effectively flipped. The default asks the delegate's drawLayer.
    virtual void drawInContext(GraphicsContext& context);
    // Draws the layer and its sublayers (model values) into the context by the compositor's
    // rules. The context's user space is the layer's bounds space (its position and transform
    // do not apply); a layer with flipped geometry shows its sublayers flipped within it, so
    // a flipped view's layer comes out upright in a y-up bitmap. Layers marked as needing
    // display are displayed first, and delegates hear of the rendering (RenderingScope), so
    // that embedded widgets are in it.
    void renderInContext(GraphicsContext& context);
    // The contents as the compositor draws them: converted once to ARGB32 premultiplied when
    // `converted` (the fastest format to composite), else as stored.
    const QImage& compositingContents(bool converted);
    // The compositor's kept copy of scaled contents at device resolution (null while there is
    // none), which frames that draw the layer as the last one did only blend. For tests.
    QImage compositorCopy() const { return mExtras ? mExtras->rendition.image : QImage(); }

    // ---- Delegate and actions ----
    std::shared_ptr<LayerDelegate> delegate() const { return mDelegate.lock(); }
    // Held weakly.
    void setDelegate(const std::shared_ptr<LayerDelegate>& delegate);
    std::map<QString, LayerAction> actions() const;
    void setActions(const std::map<QString, LayerAction>& actions);
    // A no-answer action removes the key from the table.
    void setAction(const QString& key, const LayerAction& action);
    // The action for a change of `key`, in this order: none when the transaction disables
    // actions; the delegate's answer unless it gives none; the table's entry; the default.
    LayerAction actionForKey(const QString& key);
    // A basic animation template for the animatable keys (position, bounds, anchorPoint,
    // transform, opacity, backgroundColor, borderColor, borderWidth, cornerRadius), the null
    // action for every other key.
    virtual LayerAction defaultActionForKey(const QString& key) const;
    // Whether the layer was committed (by a transaction that ended after it was made) or drawn.
    bool isCommitted() const;

    // ---- Animations ----
    // Adds a copy of the animation; one with the same key is removed first (its completion
    // sees finished = false). An empty key cannot be replaced or removed by key. An unset
    // duration and timing function come from the current transaction.
    void addAnimation(const std::shared_ptr<Animation>& animation, const QString& key);
    void removeAnimation(const QString& key);
    // The presentation jumps back to the model values.
    void removeAllAnimations();
    std::shared_ptr<const Animation> animationForKey(const QString& key) const;
    QStringList animationKeys() const;
    bool hasAnimations() const;

    // ---- Model and presentation values ----
    const LayerProperties& modelProperties() const { return mModel; }
    // The model values with the running animations applied at MediaClock::now(), or at the
    // given media time (a compositor evaluates a whole frame at one time).
    LayerProperties presentationProperties() const;
    LayerProperties presentationPropertiesAt(double mediaTime) const;
    AnimationValue presentationValue(const QString& keyPath) const;
    // The model value at a key path, and a change through it (with its action).
    AnimationValue valueForKeyPath(const QString& keyPath) const { return mModel.value(keyPath); }
    void setValueForKeyPath(const QString& keyPath, const AnimationValue& value);
    // The animator proxy: sets model values at once and animates them explicitly from the
    // presented values, whatever the action lookup would say.
    LayerAnimator animator();

    // ---- Frames ----
    DirtyFlags dirtyFlags() const { return mDirty; }
    // "Position|Opacity"; "None" when clean.
    QString dirtyToString() const { return dirtyToString(mDirty); }
    static QString dirtyToString(DirtyFlags flags);
    // Called on a root: visits each layer of the tree changed since the last call once, with
    // its flags, and clears them. Returns the number visited.
    int consumeDirtyLayers(const std::function<void(Layer&, DirtyFlags)>& visit = {});
    // Called on a root: runs when the tree first needs a new frame after the last
    // consumeDirtyLayers (a change, or a step of a running animation).
    void setFrameRequestHandler(std::function<void()> handler);
    // Asks the root's handler for a frame.
    void requestFrame();

    // One line per layer, two blanks of indent per level: class, name, bounds, position, and
    // whatever differs from the defaults. Stable for tests.
    QString dumpTree() const;
    QString describe() const;

private:
    friend class AnimationDriver;
    friend class LayerAnimator;
    friend class LayerRenderer; // the compositor's painter

    struct AnimationRecord
    {
        QString key;
        std::shared_ptr<Animation> animation;
        double start = 0;
        bool ended = false;
        std::function<void()> transactionEnded;
    };

    // The compositor's copy of scaled contents at device resolution, drawn instead of
    // scaling the contents again while the layer is drawn the same way frame after frame.
    // At most one a layer, of the size the layer covers on the device; dropped with the
    // contents and while the way the layer is drawn changes from frame to frame.
    struct Rendition
    {
        QImage image;
        QPoint origin;        // device pixel of the image's top-left corner
        QTransform transform; // contents pixels to device pixels it was made for
        qint64 key = 0;       // of the contents it was made from
        double opacity = 1;   // multiplied into the image (1 when the copy applies it)
        // How the contents were drawn in the last frame: a rendition is made when the next
        // frame draws them the same way.
        QTransform seenTransform;
        qint64 seenKey = 0;
        double seenOpacity = 1;
        // The scaler last drawn through while no copy was made (seenKey, seenTransform and
        // seenOpacity): its sampling is worked out once, not every frame.
        std::shared_ptr<const CompositorScaler> scaler;
        // Device pixels the contents moved by since the scaler was made.
        QPoint scalerShift;
    };

    // Values few layers use, allocated on first use.
    struct Extras
    {
        QString name;
        std::map<QString, LayerAction> actions;
        std::vector<AnimationRecord> animations;
        unsigned edgeAntialiasingMask = AllEdges;
        QImage convertedContents;
        Rendition rendition;
        // Whether every pixel of the contents with this cache key is opaque (checked once).
        qint64 opaqueCheckedKey = 0;
        bool opaqueContents = false;
        std::optional<Path> maskPath;
        // Roots only.
        std::function<void()> frameRequest;
        std::vector<std::weak_ptr<Layer>> dirtyList;
    };

    Extras& extras();
    template <class Mutate> void changeAnimatable(const QString& key, DirtyFlags flag, Mutate&& mutate);
    void setModelValue(const QString& keyPath, const AnimationValue& value, bool withActions);
    void addAnimationRecord(const std::shared_ptr<Animation>& animation, const QString& key,
                            bool implicitDefaults);
    static void endRecord(AnimationRecord& record, bool finished);
    void insertAt(const std::shared_ptr<Layer>& layer, std::size_t index);
    void markDirty(DirtyFlags flags);
    // The pixel size drawn contents take (empty when the bounds draw nothing), and a cleared
    // image of it to draw into: the last drawn one when free, else a new one.
    QSize drawingPixelSize() const;
    QImage takeDrawingImage();
    // display()'s two halves: drawInContext into the image taken (on any thread for a layer
    // that draws asynchronously), and the image shown as the new contents (main thread).
    void drawIntoImage(QImage& image);
    void takeDrawnImage(const QImage& image);
    void relinkDirtySubtree();
    // Ends the animations whose time is over; returns when the next step is needed
    // (infinity when no animation runs any more).
    double stepAnimations(double now);
    void noteDrawn() { mDrawn = true; }

    LayerProperties mModel;
    Layer* mSuperlayer = nullptr; // not owned: the superlayer owns this layer
    std::vector<std::shared_ptr<Layer>> mSublayers;
    std::weak_ptr<LayerDelegate> mDelegate;
    QImage mContents;
    // Whether mContents is an image display() drew, which the next display may draw over.
    bool mContentsDisplayed = false;
    double mContentsScale = 1;
    double mZPosition = 0;
    std::unique_ptr<Extras> mExtras;
    std::uint64_t mBornIn = 0; // the commit generation open when the layer was made
    DirtyFlags mDirty = 0;
    bool mHidden = false;
    bool mGeometryFlipped = false;
    bool mMasksToBounds = false;
    bool mOpaque = false;
    bool mNeedsDisplay = false;
    bool mDrawsAsynchronously = false;
    bool mNeedsDisplayOnBoundsChange = false;
    bool mDrawn = false;
    bool mDrawsDirectly = false;
    bool mFrameRequested = false;  // roots: a frame was asked for and not yet consumed
    bool mWatchedByDriver = false; // in the animation driver's list
};

} // namespace corvex
