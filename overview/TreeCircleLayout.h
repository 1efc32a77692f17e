#pragma once

#include <QtGlobal>
#include <vector>

namespace corvex {

class FlatGraph;
class Graph;

// The radial layout of an overview graph: the root in the middle, each depth on a circle of
// its own, every leaf at its own angle (the full circle shared evenly among the leaves) and
// every inner node in the middle of its children's span; leaves below a deeper node packed
// one node size apart; then note numbers, centres around the origin and the bounds.
//
// The angles and circle radii are those of a tree padded below every leaf with a chain of
// empty nodes down to the deepest level; the padding is never made: each depth's sequence of
// angles is kept as a linked frontier that the next depth refines, and only gaps touching a
// depth's own nodes are measured there (neighbouring leaves stay neighbours further down), so
// the layout takes linear time and memory whatever the depth. Results reach
// the nodes through their identifiers (the last node in tree order wins among duplicates).
//
// It works on the flat mirror, whose arrays it reads and writes in order; a Graph is laid out
// through a flat mirror of its nodes. Iterative throughout. A Graph's layout runs on the main
// thread (it reads the ideas' notes); a flat mirror's reads nothing else.
class TreeCircleLayout
{
public:
    // Lays the graph out with the node size (arc distance between neighbours, and margin) and
    // the least step between the circles.
    static void layout(Graph& graph, float nodeSize, float radiusIncrement);
    static void layout(FlatGraph& graph, float nodeSize, float radiusIncrement);

    TreeCircleLayout(Graph& graph, float nodeSize, float radiusIncrement);
    TreeCircleLayout(FlatGraph& graph, float nodeSize, float radiusIncrement);

    // The radius of a depth's circle (0 outside).
    double levelRadiusAtLevel(quint64 level) const;
    const std::vector<double>& levelRadiuses() const { return mLevelRadiuses; }

    // The smallest positive gap between neighbouring angles of the list (its last and first
    // not counted as neighbours); 2 pi when there is none.
    static double findSmallestNonZeroAngleDistance(const std::vector<float>& angles);
    // The gap from angle a to angle b: the difference in single precision, the turn in double.
    static double angleGap(float a, float b);

private:
    void run(FlatGraph& graph);
    // The padded tree's angles, kept in the graph's angles until copyResults.
    static void calculateAngles(FlatGraph& graph);
    void calculateLevelRadiuses(FlatGraph& graph);
    void balanceLevelRadiuses();
    void copyResults(FlatGraph& graph) const;
    void fineTuneFinalGraph(FlatGraph& graph) const;
    void calculatePositions(FlatGraph& graph) const;

    double mElemSize;
    double mRadiusInc;
    std::vector<double> mLevelRadiuses;
};

} // namespace corvex
