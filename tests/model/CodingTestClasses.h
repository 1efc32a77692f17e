#pragma once

// Small codable classes of the coder tests, independent of the document model: a node with
// one field of each coded kind, children and a single child.

#include "platform/core/Coder.h"
#include "platform/core/Value.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace corvex::test {

class TestNode;
using TestNodePtr = std::shared_ptr<TestNode>;

class TestNode : public Codable
{
public:
    static TestNodePtr make(const QString& name = QString())
    {
        auto node = std::make_shared<TestNode>();
        node->name = name;
        return node;
    }

    QString name;
    std::optional<qint64> number;
    QByteArray data;
    QDateTime date;
    Value values; // any plain value, written with encodeValue
    std::vector<TestNodePtr> children;
    TestNodePtr child;
    bool throwWhileEncoding = false;

    QString className() const override { return QStringLiteral("TestNode"); }
    void encodeWithCoder(Encoder& coder) const override
    {
        if (throwWhileEncoding)
            throw std::runtime_error("encodeWithCoder failed on purpose");
        coder.encodeString(name, QStringLiteral("name"));
        if (number)
            coder.encodeInt64(*number, QStringLiteral("number"));
        coder.encodeData(data, QStringLiteral("data"));
        coder.encodeDate(date, QStringLiteral("date"));
        coder.encodeValue(values, QStringLiteral("values"));
        coder.encodeObjectList(children, QStringLiteral("children"));
        coder.encodeObject(child, QStringLiteral("child"));
    }

    static TestNodePtr initWithCoder(Decoder& coder)
    {
        auto node = std::make_shared<TestNode>();
        node->name = coder.decodeStringForKey(QStringLiteral("name")).value_or(QString());
        if (coder.containsValueForKey(QStringLiteral("number")))
            node->number = coder.decodeInt64ForKey(QStringLiteral("number"));
        node->data = coder.decodeDataForKey(QStringLiteral("data"));
        node->date = coder.decodeDateForKey(QStringLiteral("date")).value_or(QDateTime());
        node->values = coder.decodeObjectForKey(QStringLiteral("values")).plain();
        node->children = coder.decodeArrayOfClass<TestNode>(QStringLiteral("children"));
        node->child = coder.decodeObjectOfClass<TestNode>(QStringLiteral("child"));
        return node;
    }
};

// A second class, so that tests can tell which class decoded a dictionary.
class OtherNode : public Codable
{
public:
    QString label;
    QString className() const override { return QStringLiteral("OtherNode"); }
    void encodeWithCoder(Encoder& coder) const override
    {
        coder.encodeString(label, QStringLiteral("label"));
    }
    static std::shared_ptr<OtherNode> initWithCoder(Decoder& coder)
    {
        auto node = std::make_shared<OtherNode>();
        node->label = coder.decodeStringForKey(QStringLiteral("label")).value_or(QString());
        return node;
    }
};

// A class whose factory throws, for the decoder's "no exception leaves" rule.
class ThrowingNode : public Codable
{
public:
    QString className() const override { return QStringLiteral("ThrowingNode"); }
    void encodeWithCoder(Encoder&) const override {}
};

inline void registerTestCodables()
{
    CodableRegistry::registerClass(QStringLiteral("TestNode"), [](Decoder& coder) -> CodablePtr {
        return TestNode::initWithCoder(coder);
    });
    CodableRegistry::registerClass(QStringLiteral("OtherNode"), [](Decoder& coder) -> CodablePtr {
        return OtherNode::initWithCoder(coder);
    });
    CodableRegistry::registerClass(QStringLiteral("ThrowingNode"), [](Decoder&) -> CodablePtr {
        throw std::runtime_error("factory failed on purpose");
    });
}

} // namespace corvex::test
