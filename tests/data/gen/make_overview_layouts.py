#!/usr/bin/env python3
"""Reference layouts of the overview graph for tests/overview.

Implements the radial tree layout step by step as described for the overview (padded copy
with filler chains, leaf angles, level radii with balancing, results copied by identifier,
note numbers and leaf packing, positions and bounds), with single-precision rounding where the
layout stores or computes in single precision. Writes tests/data/overview/layouts.json: for
each of 12 seeded trees the nodes in pre-order (identifier, parent, note, link target) and the
expected angle, radius, centre and note number of every node, and the bounds.

Standard library only; run with /usr/bin/python3 from any folder.
"""
import json
import math
import os
import random
import struct

NODE_SIZE = 140.0
RADIUS_INC = 168.0
TWO_PI = math.pi * 2


def f32(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


class Node:
    def __init__(self, idea):
        self.idea = idea  # dict with 'id', 'note' or None for a filler
        self.children = []
        self.parent = None
        self.angle = 0.0
        self.radius = 0.0
        self.center = (0.0, 0.0)
        self.note_number = 0

    def add(self, node):
        node.parent = self
        self.children.append(node)


def preorder(root):
    out = []
    stack = [(root, 0)]
    while stack:
        node, depth = stack.pop()
        out.append((node, depth))
        for child in reversed(node.children):
            stack.append((child, depth + 1))
    return out


class Graph:
    def __init__(self, root):
        self.root = root
        self.levels = []
        self.bounds = (0, 0, 0, 0)
        self.reconstruct_levels()

    def reconstruct_levels(self):
        self.levels = []
        for node, depth in preorder(self.root):
            while len(self.levels) <= depth:
                self.levels.append([])
            self.levels[depth].append(node)

    def copy(self):
        root = Node(self.root.idea)
        stack = [(self.root, root)]
        while stack:
            src, dst = stack.pop()
            for child in src.children:
                made = Node(child.idea)
                dst.add(made)
                stack.append((child, made))
        return Graph(root)

    def find(self, identifier):
        found = None
        for node, _ in preorder(self.root):
            if node.idea is not None and node.idea['id'] == identifier:
                found = node
        return found


def balanced_copy(graph):
    g = graph.copy()
    levels = len(g.levels)
    # A pre-order walk that sees the children a visit adds.
    stack = [(g.root, 0)]
    while stack:
        node, depth = stack.pop()
        if not node.children:
            tail = node
            for _ in range(levels - 1 - depth):
                filler = Node(None)
                tail.add(filler)
                tail = filler
        for child in reversed(node.children):
            stack.append((child, depth + 1))
    g.reconstruct_levels()
    return g


def smallest_gap(nodes):
    best = TWO_PI
    for i in range(len(nodes) - 1):
        diff = f32(nodes[i + 1].angle - nodes[i].angle)
        gap = math.fmod(diff + TWO_PI, TWO_PI)
        if gap > 0 and gap < best:
            best = gap
    return best


def lerp(a, b, p):
    p = min(max(p, 0.0), 1.0)
    return a + p * (b - a)


def layout(graph, elem=NODE_SIZE, inc=RADIUS_INC):
    bal = balanced_copy(graph)
    # Angles.
    deepest = bal.levels[-1]
    n = len(deepest)
    for i, node in enumerate(deepest):
        node.angle = f32((i * math.pi * 2) / n)
    for level in range(len(bal.levels) - 2, -1, -1):
        for node in bal.levels[level]:
            if len(node.children) == 1:
                node.angle = node.children[0].angle
            elif len(node.children) > 1:
                node.angle = f32(f32(node.children[-1].angle + node.children[0].angle) * 0.5)
    # Level radii.
    radii = [0.0]
    for level in range(1, len(bal.levels)):
        d = smallest_gap(bal.levels[level])
        radii.append(max(radii[level - 1] + inc, elem / d))
    if len(radii) >= 3:
        for level in range(len(radii) - 1, 1, -1):
            t = lerp(radii[level - 2], radii[level], f32(0.3))
            if t > radii[level - 1]:
                radii[level - 1] = t
    for level, nodes in enumerate(bal.levels):
        for node in nodes:
            node.radius = f32(radii[level])
    # Results by identifier.
    for node, _ in preorder(graph.root):
        source = bal.find(node.idea['id'])
        node.angle = source.angle
        node.radius = source.radius
    # Note numbers and leaf packing.
    counter = 1
    for node, depth in preorder(graph.root):
        if node.idea['note']:
            node.note_number = counter
            counter += 1
        if depth >= 1 and node.children and all(not c.children for c in node.children):
            count = len(node.children)
            for i, child in enumerate(node.children):
                term = f32(f32(i) - f32(f32(count * 0.5) - 0.5))
                child.angle = f32(node.angle + term * (elem / child.radius))
    # Positions and bounds.
    min_x = min_y = 2147483647
    max_x = max_y = -2147483648

    def away(v):
        return math.ceil(v) if v > 0 else math.floor(v)

    for node, _ in preorder(graph.root):
        x = away(math.cos(node.angle) * node.radius)
        y = away(math.sin(node.angle) * node.radius)
        node.center = (float(x), float(y))
        if x < min_x:
            min_x = int(x)
        if x > max_x:
            max_x = int(x)
        if y < min_y:
            min_y = int(y)
        if y > max_y:
            max_y = int(y)
    min_x = int(min(min_x, -inc))
    min_y = int(min(min_y, -inc))
    max_x = int(max(max_x, inc))
    max_y = int(max(max_y, inc))
    min_x = int(min_x - elem)
    min_y = int(min_y - elem)
    max_x = int(max_x + elem)
    max_y = int(max_y + elem)
    graph.bounds = (min_x - elem, min_y - elem, (max_x - min_x) + 2 * elem, (max_y - min_y) + 2 * elem)


# ---- The trees: a list of ideas in pre-order, each {'id', 'parent', 'note', 'link'} ----

def from_parents(parents, rng, note_rate=0.0, link_rate=0.0, ids=None):
    """Ideas from a parent list (parent index < own index), reordered into pre-order."""
    count = len(parents)
    kids = [[] for _ in range(count)]
    for i in range(1, count):
        kids[parents[i]].append(i)
    order = []
    stack = [0]
    while stack:
        i = stack.pop()
        order.append(i)
        stack.extend(reversed(kids[i]))
    position = {old: new for new, old in enumerate(order)}
    ideas = []
    for old in order:
        ideas.append({
            'id': ids[old] if ids else 'n%d' % old,
            'parent': -1 if old == 0 else position[parents[old]],
            'note': rng.random() < note_rate,
            'link': -1,
        })
    has_children = {idea['parent'] for idea in ideas}
    for index, idea in enumerate(ideas[1:], start=1):
        # A link idea holds no children.
        if index not in has_children and not idea['note'] and rng.random() < link_rate:
            # Inner ideas are never links, so a link never points at another link.
            idea['link'] = rng.choice(sorted(has_children - {-1}))
    return ideas


def random_parents(rng, count, depth_bias):
    parents = [-1]
    depth = [0]
    for i in range(1, count):
        if rng.random() < depth_bias:
            p = i - 1 - rng.randrange(min(i, 3))
        else:
            p = rng.randrange(i)
        parents.append(p)
        depth.append(depth[p] + 1)
    return parents


def make_trees():
    trees = []
    rng = random.Random(26)
    trees.append(('lone root', from_parents([-1], rng, note_rate=1.0)))
    trees.append(('three leaves', from_parents([-1, 0, 0, 0], rng)))
    trees.append(('chain of 50', from_parents([-1] + list(range(49)), rng, note_rate=0.2)))
    trees.append(('star of 500', from_parents([-1] + [0] * 500, rng, note_rate=0.1)))
    for seed, count, bias in [(1, 30, 0.3), (2, 120, 0.5), (3, 300, 0.2), (4, 200, 0.8),
                              (5, 80, 0.6), (6, 400, 0.4)]:
        r = random.Random(seed)
        trees.append(('random %d' % seed, from_parents(random_parents(r, count, bias), r,
                                                       note_rate=0.25, link_rate=0.1)))
    # Two levels under a deep arm: balancing lifts the inner circles.
    parents = [-1, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 4, 12, 13, 14]
    trees.append(('lifted levels', from_parents(parents, rng, note_rate=0.5)))
    # A damaged file: identifiers repeat.
    r = random.Random(12)
    parents = random_parents(r, 60, 0.4)
    ids = ['dup%d' % (i % 17) for i in range(60)]
    ids[0] = 'root'
    trees.append(('duplicate identifiers', from_parents(parents, r, note_rate=0.3, ids=ids)))
    return trees


def run(ideas):
    # A link idea shows its linked idea's text and note.
    nodes = [Node({'id': idea['id'], 'note': ideas[idea['link']]['note'] if idea['link'] >= 0 else idea['note']})
             for idea in ideas]
    for i, idea in enumerate(ideas):
        if idea['parent'] >= 0:
            nodes[idea['parent']].add(nodes[i])
    graph = Graph(nodes[0])
    layout(graph)
    expected = [{'angle': n.angle, 'radius': n.radius, 'x': n.center[0], 'y': n.center[1],
                 'noteNumber': n.note_number} for n, _ in preorder(graph.root)]
    return expected, list(graph.bounds)


def main():
    out = []
    for name, ideas in make_trees():
        expected, bounds = run(ideas)
        out.append({'name': name, 'ideas': ideas, 'expected': expected, 'bounds': bounds})
    here = os.path.dirname(os.path.abspath(__file__))
    target = os.path.join(here, '..', 'overview', 'layouts.json')
    with open(target, 'w') as f:
        json.dump({'nodeSize': NODE_SIZE, 'radiusIncrement': RADIUS_INC, 'trees': out}, f, indent=None,
                  separators=(',', ':'))
        f.write('\n')


if __name__ == '__main__':
    main()
