#include "overview/Graph.h"
#include "overview/GraphTileFactory.h"
#include "overview/TreeCircleLayout.h"
#include "tests/overview/OverviewTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <random>

namespace corvex {
namespace {

// The layout of a seeded 100,000-idea tree, node by node, as it was when the overview's
// layout was first made fast: speed must not buy another picture. The fixture holds, after a
// header, every node's centre, angle, radius and note number in pre-order, deflated
// (qCompress). To write it anew from today's layout (only for a change of the picture made on
// purpose), run this test with CORVEX_WRITE_LAYOUT_FIXTURE=1.

constexpr int kIdeaCount = 100000;
constexpr quint32 kSeed = 53;
constexpr float kNodeSize = 140;
constexpr float kRadiusIncrement = 168;
constexpr char kMagic[8] = {'C', 'V', 'X', 'L', 'A', 'Y', '0', '1'};

QString fixturePath()
{
    return QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() +
           QStringLiteral("/../data/overview/layout_100k.bin.z");
}

// A tree whose shape mixes chains (a quarter of the ideas hang below the idea made just
// before) with bushy parts (the others below any earlier idea), so that depths and child
// counts vary: some leaves below deep chains, some wide nodes near the root. Every fifth idea
// has a note; every 1,001st repeats an earlier identifier; some leaves are links to other
// ideas, a few of them to ideas with notes.
IdeaPtr seededTree()
{
    std::mt19937 random(kSeed);
    std::vector<int> parent(kIdeaCount, -1);
    std::vector<int> children(kIdeaCount, 0);
    for (int i = 1; i < kIdeaCount; ++i) {
        const quint32 pick = random();
        parent[std::size_t(i)] = pick % 4 == 0 ? i - 1 : int(random() % quint32(i));
        ++children[std::size_t(parent[std::size_t(i)])];
    }
    std::vector<IdeaPtr> ideas(kIdeaCount);
    for (int i = 0; i < kIdeaCount; ++i) {
        const QString identifier = QStringLiteral("n%1").arg(i % 1001 == 0 && i > 0 ? i / 3 : i);
        if (i % 2503 == 0 && i > 0 && children[std::size_t(i)] == 0)
            ideas[std::size_t(i)] = Idea::initWithLinkToIdea(QStringLiteral("n%1").arg((i * 7) % kIdeaCount));
        else
            ideas[std::size_t(i)] = Idea::initWithText(QStringLiteral("t"), identifier);
        if (i % 5 == 0)
            ideas[std::size_t(i)]->setNote(QStringLiteral("note"));
        if (i > 0 && !ideas[std::size_t(parent[std::size_t(i)])]->addIdea(ideas[std::size_t(i)]))
            ADD_FAILURE() << "idea " << i << " not attached";
    }
    return ideas.front();
}

struct NodeResult
{
    double x;
    double y;
    float angle;
    float radius;
    qint32 noteNumber;
};

struct Fixture
{
    quint64 digest = 0;
    Rect bounds;
    std::vector<NodeResult> nodes;
};

// FNV-1a over the pre-order of identifiers and depths: the fixture belongs to this tree.
// Links are made with identifiers of their own, new on every run: they count as links.
quint64 shapeDigest(Graph& graph)
{
    quint64 hash = 14695981039346656037ull;
    const auto add = [&hash](const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i)
            hash = (hash ^ bytes[i]) * 1099511628211ull;
    };
    graph.traverseNaturally([&](GraphNode& node, qint64 depth) {
        const qint64 d = qToLittleEndian(depth);
        add(&d, sizeof d);
        const QByteArray id =
            node.idea() && node.idea()->isLink() ? QByteArray("(link)") : node.identifier().toUtf8();
        add(id.constData(), std::size_t(id.size()) + 1);
    });
    return hash;
}

template <class T> void put(QByteArray& out, T value)
{
    const T little = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&little), sizeof little);
}

template <class T> bool take(const QByteArray& in, qsizetype& at, T& value)
{
    if (at + qsizetype(sizeof(T)) > in.size())
        return false;
    std::memcpy(&value, in.constData() + at, sizeof(T));
    value = qFromLittleEndian(value);
    at += qsizetype(sizeof(T));
    return true;
}

// A floating value as its bit pattern (Bits of its size), little-endian.
template <class Bits, class T> void putBits(QByteArray& out, T value)
{
    static_assert(sizeof(Bits) == sizeof(T));
    Bits bits;
    std::memcpy(&bits, &value, sizeof bits);
    put(out, bits);
}

template <class Bits, class T> bool takeBits(const QByteArray& in, qsizetype& at, T& value)
{
    static_assert(sizeof(Bits) == sizeof(T));
    Bits bits = 0;
    if (!take(in, at, bits))
        return false;
    std::memcpy(&value, &bits, sizeof value);
    return true;
}

// Field by field (all x, then all y, ...): values of one kind side by side deflate best.
QByteArray encode(const Fixture& fixture)
{
    QByteArray out(kMagic, sizeof kMagic);
    put(out, quint32(fixture.nodes.size()));
    put(out, fixture.digest);
    for (const double v : {fixture.bounds.origin.x, fixture.bounds.origin.y, fixture.bounds.size.width,
                           fixture.bounds.size.height})
        putBits<quint64>(out, v);
    for (const NodeResult& n : fixture.nodes)
        putBits<quint64>(out, n.x);
    for (const NodeResult& n : fixture.nodes)
        putBits<quint64>(out, n.y);
    for (const NodeResult& n : fixture.nodes)
        putBits<quint32>(out, n.angle);
    for (const NodeResult& n : fixture.nodes)
        putBits<quint32>(out, n.radius);
    for (const NodeResult& n : fixture.nodes)
        put(out, n.noteNumber);
    return qCompress(out, 9);
}

bool decode(const QByteArray& compressed, Fixture& fixture)
{
    const QByteArray in = qUncompress(compressed);
    if (in.size() < qsizetype(sizeof kMagic) || std::memcmp(in.constData(), kMagic, sizeof kMagic) != 0)
        return false;
    qsizetype at = sizeof kMagic;
    quint32 count = 0;
    double b[4] = {};
    if (!take(in, at, count) || !take(in, at, fixture.digest))
        return false;
    for (double& v : b)
        if (!takeBits<quint64>(in, at, v))
            return false;
    fixture.bounds = Rect(b[0], b[1], b[2], b[3]);
    fixture.nodes.assign(count, NodeResult{});
    bool ok = true;
    for (NodeResult& n : fixture.nodes)
        ok = ok && takeBits<quint64>(in, at, n.x);
    for (NodeResult& n : fixture.nodes)
        ok = ok && takeBits<quint64>(in, at, n.y);
    for (NodeResult& n : fixture.nodes)
        ok = ok && takeBits<quint32>(in, at, n.angle);
    for (NodeResult& n : fixture.nodes)
        ok = ok && takeBits<quint32>(in, at, n.radius);
    for (NodeResult& n : fixture.nodes)
        ok = ok && take(in, at, n.noteNumber);
    return ok && at == in.size();
}

std::vector<const GraphNode*> preOrder(const GraphNode& root)
{
    std::vector<const GraphNode*> nodes;
    std::vector<const GraphNode*> stack{&root};
    while (!stack.empty()) {
        const GraphNode* node = stack.back();
        stack.pop_back();
        nodes.push_back(node);
        for (auto it = node->children().rbegin(); it != node->children().rend(); ++it)
            stack.push_back(it->get());
    }
    return nodes;
}

// Compares every node with the fixture, `shift` taken off the fixture's centres; reports the
// number of nodes that differ and the first of them.
void expectNodesMatch(const std::vector<const GraphNode*>& nodes, const Fixture& fixture, Point shift,
                      const char* what)
{
    ASSERT_EQ(nodes.size(), fixture.nodes.size()) << what;
    std::size_t differing = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const GraphNode& node = *nodes[i];
        const NodeResult& e = fixture.nodes[i];
        const bool same = std::abs(node.center().x - (e.x - shift.x)) <= 1e-6 &&
                          std::abs(node.center().y - (e.y - shift.y)) <= 1e-6 &&
                          std::abs(double(node.angle()) - double(e.angle)) <= 1e-6 &&
                          std::abs(double(node.radius()) - double(e.radius)) <= 1e-6 &&
                          node.noteNumber() == qint64(e.noteNumber);
        if (!same && differing++ == 0)
            first = i;
    }
    const NodeResult& e = fixture.nodes[first];
    const GraphNode& n = *nodes[first];
    EXPECT_EQ(differing, 0u) << what << ": first at pre-order index " << first << " ("
                             << n.identifier().toStdString() << "): centre " << n.center().x << ", "
                             << n.center().y << " angle " << n.angle() << " radius " << n.radius() << " note "
                             << n.noteNumber() << "; expected " << e.x - shift.x << ", " << e.y - shift.y
                             << " angle " << e.angle << " radius " << e.radius << " note " << e.noteNumber;
}

// The layout of the seeded tree equals the fixture at every node (centre, angle, radius,
// note number) and in its bounds; the overview's tile factory shows the same layout moved
// into content coordinates.
TEST(LargeLayoutFixture, EveryNodeKeepsItsPlace)
{
    const IdeaPtr root = seededTree();
    Graph graph(root);
    TreeCircleLayout::layout(graph, kNodeSize, kRadiusIncrement);
    const quint64 digest = shapeDigest(graph);

    if (qEnvironmentVariableIsSet("CORVEX_WRITE_LAYOUT_FIXTURE")) {
        Fixture made;
        made.digest = digest;
        made.bounds = graph.bounds();
        for (const GraphNode* node : preOrder(graph.root()))
            made.nodes.push_back({node->center().x, node->center().y, node->angle(), node->radius(),
                                  qint32(node->noteNumber())});
        QFile out(fixturePath());
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QByteArray bytes = encode(made);
        ASSERT_EQ(out.write(bytes), bytes.size());
    }

    QFile in(fixturePath());
    ASSERT_TRUE(in.open(QIODevice::ReadOnly)) << fixturePath().toStdString();
    Fixture fixture;
    ASSERT_TRUE(decode(in.readAll(), fixture)) << "unreadable fixture";
    ASSERT_EQ(fixture.nodes.size(), std::size_t(kIdeaCount));
    ASSERT_EQ(digest, fixture.digest) << "the seeded tree is not the fixture's tree";

    expectNodesMatch(preOrder(graph.root()), fixture, Point(), "layout");
    EXPECT_EQ(graph.bounds(), fixture.bounds);

    const GraphTileFactory factory(root, {}, false);
    EXPECT_EQ(factory.contentSize(), fixture.bounds.size);
    expectNodesMatch(preOrder(factory.root()), fixture, fixture.bounds.origin, "tile factory");
}

} // namespace
} // namespace corvex
