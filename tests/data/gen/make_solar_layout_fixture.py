#!/usr/bin/env python3
"""Writes tests/data/mindmap/solar_layout.json: the solar-system view's layout worked out
independently of the C++ code, for the view's tests to compare against.

  make_solar_layout_fixture.py [--out PATH]

Standard library only; run with /usr/bin/python3. The output is deterministic.

Precision. Single precision is emulated by rounding to the nearest float (f32) after every
operation done in float (a sum, product or quotient of two floats) and wherever a float
receives a double. Values made of a float and a double (a float angle plus pi / n, the
double sizes) are formed in double and narrowed once where a float receives them. sinf and
cosf are the double functions narrowed. The squeezed layout's powers are doubles. In
particular:
  - normalize(a) = fmodf(fmodf(a, 2pi_f) + 2pi_f, 2pi_f) with the float nearest to 2 pi;
  - minimum turn: the difference of the two normalised angles in float, corrected by 2 pi in
    double, narrowed;
  - the normal layout's step 2 pi / n is the double quotient narrowed; i x step, the offset
    plus that, each in float;
  - an adder's offset is the float offset plus pi / adder count in double, narrowed;
  - radiusAllowing(n) = (minRadius / 6) x n in double; the orbit radius is the double
    max(minRadius, min(radiusAllowing, maxRadius)) narrowed to float; the layout is normal
    when radiusAllowing(planet count), narrowed to float, is at most that float radius (so
    an orbit grown to fit its planets is never squeezed by the narrowing);
  - elementsFittingRadius(r) truncates ((r - minRadius) x 6 / minRadius) x 0.8f + 6, in double;
  - the offset search's f(x) = -|angle(x) - a| subtracts two floats in float; its sample
    points are interpolated in float from the narrowed ends with progress (j+1)/(m+1) in
    float; its half window h = (s / m) x 0.5 is float; the window's ends are doubles;
  - planet and adder centres: c + f32(R x cosf(a)) in double, then the frame round that
    centre made integral: a planet's (a layer's) origin through float, halves away from
    zero; a view's (the centre's, an adder's) origin down to a device pixel; sizes rounded up.

Numbers that are floats in the C++ code are written as the shortest decimal that narrows
back to the same float, so a reader gets the exact value with float(double(text)).

Format: {"cases": [...]}, each case with "kind":
  "angles": width, height, count, offset, radius, planets (angles), adders (angles)
  "insert": width, height, count, offset, after, newOffset
  "remove": width, height, count, offset, index, newOffset
  "move":   width, height, count, offset, from, after, newOffset
  "focus":  width, height, count, offset, hasParent, links, parentCenter, adderCenters,
            planetCenters, point, type (0 parent, 2 planet, 3 adder, null), index,
            distance (null for no focus)
"""

import argparse
import json
import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_OUT = os.path.normpath(os.path.join(HERE, "..", "mindmap", "solar_layout.json"))

PI = 3.141592653589793
TWO_PI = 6.283185307179586
FLT_MAX = 3.4028234663852886e38


def f32(x):
    """Rounds a double to the nearest float (ties to even), as a C cast does."""
    if math.isnan(x) or math.isinf(x):
        return x
    if abs(x) >= 3.4028235677973366e38:  # beyond the largest float's rounding range
        return math.copysign(math.inf, x)
    return struct.unpack("<f", struct.pack("<f", x))[0]


TWO_PI_F = f32(TWO_PI)
SEVEN_TENTHS_F = f32(0.7)  # 0.699999988079071
EIGHT_TENTHS_F = f32(0.8)  # 0.800000011920929
SQUEEZE_START = f32(5.98647928237915)  # 343 degrees
SQUEEZE_BASE = 2.8333338295281516
PI_OVER_30 = 0.10471975511965977
SQUEEZE_SHIFT = 3.193952531149623  # 183 degrees

PLANET_SIDE = 140.0  # planet type 0: 2.5 x radius 56
CENTRAL_SIDE = 190.0  # idea view role 1: 2.5 x radius 76
ADDER_SIDE = 40.0
PARENT_SIDE = 120.0
FOCUS_LIMIT = 60.0


def round_half_away(x):
    return math.floor(x + 0.5) if x >= 0 else -math.floor(-x + 0.5)


# ---- Geometry ----

def normalize(a):
    a = f32(a)
    once = f32(math.fmod(a, TWO_PI_F) + TWO_PI_F)
    return f32(math.fmod(once, TWO_PI_F))


def minimum_angle(a, b):
    d = f32(normalize(b) - normalize(a))
    if d > PI:
        return f32(d - TWO_PI)
    if d < -PI:
        return f32(d + TWO_PI)
    return d


def interpolate_linearly(a, b, t):
    a, b, t = f32(a), f32(b), f32(t)
    t = max(min(t, 1.0), 0.0)
    return f32(a + f32(t * f32(b - a)))


def interpolate_angle(a, b, t):
    end = f32(a + minimum_angle(a, b))
    return interpolate_linearly(a, end, t)


def distance(p, q):
    dx = p[0] - q[0]
    dy = p[1] - q[1]
    return f32(math.sqrt(f32(dx * dx + dy * dy)))


def integral_center(cx, cy, side):
    """The centre of a square frame of `side` centred on (cx, cy) once made integral."""
    ox = round_half_away(f32(cx - side / 2))
    oy = round_half_away(f32(cy - side / 2))
    s = math.ceil(f32(side))
    return (ox + s / 2, oy + s / 2)


def view_integral_center(cx, cy, side, screen_scale=1.0):
    """The same for a view: its origin goes down to a device pixel (the tests' screens have
    one pixel per point), its size up to whole points."""
    ox = math.floor((cx - side / 2) * screen_scale) / screen_scale
    oy = math.floor((cy - side / 2) * screen_scale) / screen_scale
    s = math.ceil(f32(side))
    return (ox + s / 2, oy + s / 2)


# ---- Sizes ----

def scaling_factor(w, h):
    return 0.75 if min(w, h) < 640 else 1.0


def min_radius(w, h):
    return 202 * scaling_factor(w, h)


def max_radius(w, h):
    m = min_radius(w, h)
    return max(m, min(3 * m, 0.5 * SEVEN_TENTHS_F * min(w, h)))


def radius_allowing(w, h, n):
    return min_radius(w, h) / 6 * n


def elements_fitting(w, h, r):
    m = min_radius(w, h)
    return int(math.trunc(((r - m) * 6 / m) * EIGHT_TENTHS_F + 6))


def orbit_radius(w, h, count):
    return f32(max(min_radius(w, h), min(radius_allowing(w, h, count), max_radius(w, h))))


class View:
    """The layout state of a view: size, planet count, adder count, radius and offset."""

    def __init__(self, w, h, count, offset):
        self.w, self.h = w, h
        self.planets = count
        self.adders = count if count > 0 else 4
        self.radius = orbit_radius(w, h, count)
        self.offset = f32(offset)

    # ---- Angles ----
    def squeezed(self):
        return not (f32(radius_allowing(self.w, self.h, self.planets)) <= self.radius)

    def angle_for(self, i, n, o):
        o = f32(o)
        if not self.squeezed():
            step = f32(TWO_PI / n)
            return normalize(f32(o + f32(i * step)))
        k = max(6, elements_fitting(self.w, self.h, self.radius))
        step = f32(TWO_PI / n)
        kstep = f32(TWO_PI / k)
        half = f32(f32(k * 0.5) * step)
        a = normalize(f32(f32(o + f32(i * step)) + half))
        x = f32(f32(a / step) * kstep)
        if x >= SQUEEZE_START:
            r = f32(f32(x - SQUEEZE_START) / f32(f32(n * kstep) - SQUEEZE_START))
            term = (SQUEEZE_BASE ** (1.0 / (n - 3))) ** (r * (n - 3))
            x = f32(SQUEEZE_START + PI_OVER_30 * term)
        return normalize(normalize(x + SQUEEZE_SHIFT))

    def planet_angle(self, i):
        return self.angle_for(i, self.planets, self.offset)

    def adder_angle(self, i):
        return self.angle_for(i, self.adders, f32(self.offset + PI / self.adders))

    # ---- The offset search ----
    def offset_showing(self, i, n, a):
        a = f32(a)
        k = max(6, elements_fitting(self.w, self.h, self.radius))
        s = f32(n * f32(TWO_PI / k))
        m = int(math.trunc(f32(5 * s)))

        def f(x):
            return -abs(f32(self.angle_for(i, n, f32(x)) - a))

        x0 = find_max(0.0, s, m, f)
        h = f32(f32(s / m) * 0.5) if m != 0 else math.inf
        return f32(find_max(max(0.0, x0 - h), min(s, x0 + h), 20, f))

    # ---- Operations ----
    def insert_offset(self, k):
        j = (self.adders + k) % self.adders
        b = self.adder_angle(j)
        return self.offset_showing(min(max(k + 1, 0), self.planets), self.planets + 1, b)

    def remove_offset(self, i):
        a = self.planet_angle(i)
        rest = View.__new__(View)
        rest.__dict__.update(self.__dict__)
        rest.planets = self.planets - 1
        rest.adders = self.adders - 1  # the radius stays until the layout runs
        if rest.planets == 0:
            return self.offset
        n = rest.planets
        p = (i + n - 1) % n
        q = (p + n + 1) % n
        mid = interpolate_angle(rest.planet_angle(p), rest.planet_angle(q), 0.5)
        return f32(self.offset + minimum_angle(mid, a))

    def move_offset(self, f, a):
        t = a - 1 if a < f else a
        j = (self.adders + t) % self.adders
        return self.offset_showing(a, self.planets, self.adder_angle(j))

    # ---- Frames ----
    def central_center(self):
        return view_integral_center(self.w / 2, self.h / 2, CENTRAL_SIDE * scaling_factor(self.w, self.h))

    def orbit_center(self, angle, side, centring=integral_center):
        c = self.central_center()
        cx = c[0] + f32(self.radius * f32(math.cos(angle)))
        cy = c[1] + f32(self.radius * f32(math.sin(angle)))
        return centring(cx, cy, side)

    def planet_centers(self):
        side = PLANET_SIDE * f32(scaling_factor(self.w, self.h))
        return [self.orbit_center(self.planet_angle(i), side) for i in range(self.planets)]

    def adder_centers(self):
        return [self.orbit_center(self.adder_angle(i), ADDER_SIDE, view_integral_center) for i in range(self.adders)]


def find_max(lo, hi, m, f):
    best = lo
    value = f(lo)
    for j in range(m + 1):
        x = interpolate_linearly(lo, hi, f32((j + 1) / (m + 1)))
        v = f(x)
        if v > value:
            best, value = x, v
    return best


def closest(point, parent, adders, planets, links):
    """(type, index, distance) of the nearest candidate, parent before adders before planets."""
    best, found = FLT_MAX, None
    if parent is not None:
        best = f32(max(max(point[0] - parent[0], 0.0), max(point[1] - parent[1], 0.0)))
        found = (0, 0)
    for i, c in enumerate(adders):
        d = distance(point, c)
        if d < best:
            best, found = d, (3, i)
    for i, c in enumerate(planets):
        if i in links:
            continue
        d = distance(point, c)
        if d < best:
            best, found = d, (2, i)
    if found is None or best > FOCUS_LIMIT:
        return None, None, None
    return found[0], found[1], best


# ---- Output ----

def num(x):
    """The shortest decimal text that narrows back to the same float (or an exact double)."""
    if isinstance(x, int):
        return x
    if x == int(x) and abs(x) < 2**31:
        return int(x) if x == 0 or abs(x) >= 1 else x
    for digits in range(6, 10):
        text = "%.*g" % (digits, x)
        if f32(float(text)) == x:
            return float(text)
    return x


def point_out(p):
    return [num(p[0]), num(p[1])]


SIZES = [(1600, 1000), (800, 600), (1200, 2000)]
OFFSETS = [0.0, f32(0.1), f32(6.2), f32(-1.3)]


def make_angles(cases):
    for (w, h) in SIZES:
        for count in range(0, 41):
            for o in OFFSETS:
                v = View(w, h, count, o)
                cases.append({"kind": "angles", "width": w, "height": h, "count": count, "offset": num(v.offset),
                              "radius": num(v.radius),
                              "planets": [num(v.planet_angle(i)) for i in range(v.planets)],
                              "adders": [num(v.adder_angle(i)) for i in range(v.adders)]})


def pick(values):
    return sorted(set(values))


def make_operations(cases):
    for si, (w, h) in enumerate(SIZES):
        for count in range(0, 41):
            # Two of the four offsets per count, turning through all of them.
            for o in (OFFSETS[(count + si) % 4], OFFSETS[(count + si + 2) % 4]):
                v = View(w, h, count, o)
                for k in pick([-1, 0, count // 2, count - 1]):
                    if k > count - 1:
                        continue
                    cases.append({"kind": "insert", "width": w, "height": h, "count": count,
                                  "offset": num(v.offset), "after": k, "newOffset": num(v.insert_offset(k))})
                for i in pick([0, count // 2, count - 1]):
                    if 0 <= i < count:
                        cases.append({"kind": "remove", "width": w, "height": h, "count": count,
                                      "offset": num(v.offset), "index": i, "newOffset": num(v.remove_offset(i))})
                if count >= 2:
                    moves = pick([(0, count), (count - 1, 0), (count // 2, min(count, count // 2 + 2)), (1, 0)])
                    for (f, a) in moves:
                        cases.append({"kind": "move", "width": w, "height": h, "count": count,
                                      "offset": num(v.offset), "from": f, "after": a,
                                      "newOffset": num(v.move_offset(f, a))})


def focus_points(v, parent, adders, planets, links):
    """Points on the decision boundaries of this layout."""
    points = []

    def clear_of_others(point, own):
        # Every candidate but adder `own` is more than 61 points away.
        if parent is not None and max(max(point[0] - parent[0], 0), max(point[1] - parent[1], 0)) <= 61:
            return False
        near = [c for i, c in enumerate(adders) if i != own] + [c for i, c in enumerate(planets) if i not in links]
        return all(distance(point, c) > 61 for c in near)

    # 60 and 60.5 points straight out from an adder that stays the nearest candidate.
    found = False
    for i, c in enumerate(adders):
        for (dx, dy) in ((1, 0), (0, 1), (-1, 0), (0, -1)):
            inside = (c[0] + 60 * dx, c[1] + 60 * dy)
            outside = (c[0] + 60.5 * dx, c[1] + 60.5 * dy)
            if clear_of_others(inside, i) and clear_of_others(outside, i):
                points += [inside, outside]
                found = True
                break
        if found:
            break
    # A tie between adder 0 and planet 0: the midpoint of their centres, when within reach.
    if planets and 0 not in links:
        a, p = adders[0], planets[0]
        middle = ((a[0] + p[0]) / 2, (a[1] + p[1]) / 2)
        if distance(middle, a) <= FOCUS_LIMIT:
            points.append(middle)
    # On a link planet, and near an ordinary one.
    for i, c in enumerate(planets):
        if i in links:
            points.append(c)
            break
    for i, c in enumerate(planets):
        if i not in links:
            points.append((c[0] + 3, c[1] - 2))
            break
    # In the parent's corner, and far away from everything.
    points.append((10.0, 25.0))
    points.append((v.w + 400.0, v.h + 300.0))
    return points


def make_focus(cases):
    configs = []
    for si, (w, h) in enumerate(SIZES):
        for ci, count in enumerate((0, 1, 2, 5, 6, 7, 13, 20, 40)):
            o = OFFSETS[(ci + si) % 4]
            configs.append((w, h, count, o, (ci + si) % 2 == 0))
    for (w, h, count, o, has_parent) in configs:
        v = View(w, h, count, o)
        links = [i for i in range(count) if i % 3 == 1]
        parent = (PARENT_SIDE / 2, PARENT_SIDE / 2) if has_parent else None
        adders = v.adder_centers()
        planets = v.planet_centers()
        for p in focus_points(v, parent, adders, planets, links):
            t, index, d = closest(p, parent, adders, planets, links)
            cases.append({"kind": "focus", "width": w, "height": h, "count": count, "offset": num(v.offset),
                          "hasParent": has_parent, "links": links,
                          "parentCenter": point_out(parent) if parent else None,
                          "adderCenters": [point_out(c) for c in adders],
                          "planetCenters": [point_out(c) for c in planets],
                          "point": point_out(p), "type": t, "index": index, "distance": num(d) if d is not None else None})


# ---- Self-checks: known values of the layout ----

def degrees(a):
    return a * 180 / PI


def check_known_values():
    # Sizes.
    assert min_radius(1600, 1000) == 202 and min_radius(800, 600) == 151.5
    assert abs(max_radius(1600, 1000) - 350) < 1e-4
    assert abs(radius_allowing(1600, 1000, 20) - 673.333) < 1e-3
    assert elements_fitting(1600, 1000, orbit_radius(1600, 1000, 20)) == 9
    for n in range(0, 7):
        assert orbit_radius(1600, 1000, n) == 202 and orbit_radius(800, 600, n) == 151.5
    assert orbit_radius(1600, 1000, 7) == f32(202 / 6 * 7)

    # No children: adders at 45, 135, 225 and 315 degrees plus the offset.
    empty = View(1600, 1000, 0, 0.0)
    for i, want in enumerate((45, 135, 225, 315)):
        assert abs(degrees(empty.adder_angle(i)) - want) < 1e-4, (i, degrees(empty.adder_angle(i)))

    # A fresh view: normal layout's first child at 0 degrees, squeezed layout's at 3.
    assert View(1600, 1000, 5, 0.0).planet_angle(0) == 0
    # Ten children fit an orbit of 10/6 the minimum radius: not squeezed, though that radius
    # narrowed to a float lies a hair below the double that asked for it.
    assert not View(1600, 1000, 10, 0.0).squeezed()
    squeezed = View(1600, 1000, 20, 0.0)
    assert squeezed.squeezed()
    assert abs(degrees(squeezed.planet_angle(0)) - 3) < 1e-3

    # 20 children, 9 slots, an offset that puts a planet at slot position 0 (-81 degrees):
    # nine planets 40 degrees apart from 183, eleven crowded from about 172.2 to 181.5.
    v = View(1600, 1000, 20, f32(-81 * PI / 180))
    angles = [degrees(v.planet_angle(i)) for i in range(20)]
    evenly = sorted(angles[:9])
    want = sorted((183 + 40 * m) % 360 for m in range(9))
    assert all(abs(g - w) < 0.01 for g, w in zip(evenly, want)), (evenly, want)
    crowd = angles[9:]
    assert crowd == sorted(crowd), crowd
    assert abs(crowd[0] - 172.2) < 0.05 and abs(crowd[-1] - 181.5) < 0.05, crowd
    gaps = [b - a for a, b in zip(crowd, crowd[1:])]
    assert all(b > a for a, b in zip(gaps, gaps[1:])), gaps
    assert abs(gaps[0] - 0.6) < 0.1 and abs(gaps[-1] - 1.4) < 0.1, gaps

    # The squeezed layout's end constant: 2.8333338 x pi/30 is 2 pi - T.
    assert abs(SQUEEZE_BASE * PI_OVER_30 - (TWO_PI - SQUEEZE_START)) < 1e-6

    # Focus: exactly 60 points from an adder is in focus, 60.5 is not; an adder wins a tie
    # with a planet; a link planet is skipped.
    adder = (100.0, 100.0)
    assert closest((160.0, 100.0), None, [adder], [], []) == (3, 0, 60.0)
    assert closest((160.5, 100.0), None, [adder], [], []) == (None, None, None)
    assert closest((130.0, 100.0), None, [adder], [(160.0, 100.0)], [])[0:2] == (3, 0)
    assert closest((160.0, 100.0), None, [adder], [(160.0, 100.0)], [0])[0:2] == (3, 0)
    assert closest((0.0, 0.0), (60.0, 60.0), [(20.0, 20.0)], [], [])[0:2] == (0, 0)

    # Geometry cross-checks.
    assert normalize(-0.5) == f32(TWO_PI_F - 0.5)
    assert abs(minimum_angle(0.1, 6.2) - (-0.183185)) < 1e-5
    assert abs(interpolate_angle(6.0, 0.2, 1) - 6.483185) < 1e-5


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", default=DEFAULT_OUT)
    args = parser.parse_args()

    check_known_values()
    cases = []
    make_angles(cases)
    make_operations(cases)
    make_focus(cases)

    kinds = {}
    for c in cases:
        kinds[c["kind"]] = kinds.get(c["kind"], 0) + 1
    focus = [c for c in cases if c["kind"] == "focus"]
    def on_link(c):
        return any(c["point"] == c["planetCenters"][i] for i in c["links"])

    def tie(c):
        return c["count"] > 0 and c["type"] == 3 and \
            distance(c["point"], c["adderCenters"][c["index"]]) == distance(c["point"], c["planetCenters"][0])

    for what, test in (("60 points, in focus", lambda c: c["distance"] == 60),
                       ("60.5 points, no focus", lambda c: c["type"] is None and any(
                           distance(c["point"], a) == 60.5 for a in c["adderCenters"])),
                       ("the parent", lambda c: c["type"] == 0),
                       ("a tie won by the adder", tie),
                       ("a link planet passed over", lambda c: on_link(c) and c["type"] != 2),
                       ("a planet", lambda c: c["type"] == 2)):
        assert sum(1 for c in focus if test(c)) >= 10, what

    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    with open(args.out, "w") as out:
        # One case a line: small diffs when the layout changes.
        out.write('{"cases":[\n')
        out.write(",\n".join(json.dumps(c, separators=(",", ":")) for c in cases))
        out.write("\n]}\n")
    print("%s: %d cases (%s), %d bytes" % (args.out, len(cases),
                                          ", ".join("%s %d" % kv for kv in sorted(kinds.items())),
                                          os.path.getsize(args.out)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
