#include "platform/ui/LayerProperties.h"

#include <array>

namespace corvex {

namespace {

struct KeyPathAccess
{
    const char* name;
    AnimationValue (*get)(const LayerProperties&);
    // False when the value is of the wrong kind.
    bool (*set)(LayerProperties&, const AnimationValue&);
};

const std::array<KeyPathAccess, 15>& keyPaths()
{
    static const std::array<KeyPathAccess, 15> table{{
        {"position", [](const LayerProperties& p) { return AnimationValue(p.position); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isPoint() && (p.position = v.toPoint(), true);
         }},
        {"bounds", [](const LayerProperties& p) { return AnimationValue(p.bounds); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isRect() && (p.bounds = v.toRect(), true);
         }},
        {"transform", [](const LayerProperties& p) { return AnimationValue(p.transform); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isTransform() && (p.transform = v.toTransform(), true);
         }},
        {"opacity", [](const LayerProperties& p) { return AnimationValue(double(p.opacity)); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isDouble() && (p.opacity = float(v.toDouble()), true);
         }},
        {"position.x", [](const LayerProperties& p) { return AnimationValue(p.position.x); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isDouble() && (p.position.x = v.toDouble(), true);
         }},
        {"position.y", [](const LayerProperties& p) { return AnimationValue(p.position.y); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isDouble() && (p.position.y = v.toDouble(), true);
         }},
        {"bounds.origin", [](const LayerProperties& p) { return AnimationValue(p.bounds.origin); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isPoint() && (p.bounds.origin = v.toPoint(), true);
         }},
        {"bounds.size", [](const LayerProperties& p) { return AnimationValue(p.bounds.size); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isSize() && (p.bounds.size = v.toSize(), true);
         }},
        {"bounds.size.width", [](const LayerProperties& p) { return AnimationValue(p.bounds.size.width); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isDouble() && (p.bounds.size.width = v.toDouble(), true);
         }},
        {"bounds.size.height", [](const LayerProperties& p) { return AnimationValue(p.bounds.size.height); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isDouble() && (p.bounds.size.height = v.toDouble(), true);
         }},
        {"anchorPoint", [](const LayerProperties& p) { return AnimationValue(p.anchorPoint); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isPoint() && (p.anchorPoint = v.toPoint(), true);
         }},
        {"backgroundColor", [](const LayerProperties& p) { return AnimationValue(p.backgroundColor); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isColor() && (p.backgroundColor = v.toColor(), true);
         }},
        {"borderColor", [](const LayerProperties& p) { return AnimationValue(p.borderColor); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isColor() && (p.borderColor = v.toColor(), true);
         }},
        {"borderWidth", [](const LayerProperties& p) { return AnimationValue(p.borderWidth); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isDouble() && (p.borderWidth = v.toDouble(), true);
         }},
        {"cornerRadius", [](const LayerProperties& p) { return AnimationValue(p.cornerRadius); },
         [](LayerProperties& p, const AnimationValue& v) {
             return v.isDouble() && (p.cornerRadius = v.toDouble(), true);
         }},
    }};
    return table;
}

const KeyPathAccess* find(const QString& keyPath)
{
    for (const KeyPathAccess& access : keyPaths()) {
        if (keyPath == QLatin1String(access.name))
            return &access;
    }
    return nullptr;
}

} // namespace

bool LayerProperties::isKeyPath(const QString& keyPath)
{
    return find(keyPath) != nullptr;
}

AnimationValue LayerProperties::value(const QString& keyPath) const
{
    const KeyPathAccess* access = find(keyPath);
    return access ? access->get(*this) : AnimationValue();
}

bool LayerProperties::setValue(const QString& keyPath, const AnimationValue& value)
{
    const KeyPathAccess* access = find(keyPath);
    return access && access->set(*this, value);
}

QTransform LayerProperties::toSuperlayer() const
{
    const double ax = bounds.origin.x + anchorPoint.x * bounds.size.width;
    const double ay = bounds.origin.y + anchorPoint.y * bounds.size.height;
    const QTransform t(transform.m11, transform.m12, transform.m21, transform.m22, transform.m41,
                       transform.m42);
    return QTransform::fromTranslate(-ax, -ay) * t * QTransform::fromTranslate(position.x, position.y);
}

Rect LayerProperties::frame() const
{
    const QRectF box = toSuperlayer().mapRect(
        QRectF(bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height).normalized());
    return Rect::fromQRectF(box);
}

} // namespace corvex
