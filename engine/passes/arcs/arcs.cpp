#include "arcs.h"

#include "passgeometry.h"

#include <algorithm>
#include <array>
#include <string>

namespace unplot::engine::passes {
namespace {

// A run turning more than this a segment is a polygon's corners, never a flattened curve (at least 8 a circle).
constexpr double kMaxStep = std::numbers::pi / 4;
// A run turning at most this a segment (48 or more a circle) is a flattened curve whatever the page.
constexpr double kSureStep = std::numbers::pi / 24;
// How far (mm) coordinates may be off their true place, from rounding in the PDF, at the least.
constexpr double kNoise = 2e-4;
// Ends this close (mm) meet.
constexpr double kTouch = 1e-3;

// How far off the circle a vertex of a run may be, given how far coordinates may be off.
double fitTolerance(double radius, double noise)
{
    return std::max({0.003, 2e-4 * radius, 3 * noise});
}

// Plots that round their coordinates to a grid (whole units of a device) put every vertex up to half a grid step
// off its place: the step, when the page's polylines keep to one, else 0. Read from the differences between
// neighbouring vertices, which are then all whole steps.
double gridStep(const Drawing& d)
{
    std::vector<double> steps;
    for (const Entity& e : d.entities)
        if (const auto* p = std::get_if<Polyline>(&e.geometry))
            for (std::size_t i = 1; i < p->points.size() && steps.size() < 20000; ++i)
                for (double v :
                     {std::abs(p->points[i].x - p->points[i - 1].x), std::abs(p->points[i].y - p->points[i - 1].y)})
                    if (v > 1e-6 && v < 0.5)
                        steps.push_back(v);
    if (steps.size() < 50)
        return 0;
    const double least = *std::min_element(steps.begin(), steps.end());
    for (int k = 1; k <= 4; ++k) {
        const double step = least / k;
        const auto whole = std::count_if(steps.begin(), steps.end(),
                                         [&](double v) { return std::abs(v / step - std::round(v / step)) <= 0.02; });
        if (step >= 1e-4 && double(whole) >= 0.95 * double(steps.size()))
            return step;
    }
    return 0;
}

// --- segment runs on a circle ----------------------------------------------------------------------------------

// A run of polyline segments on one circle.
struct Run {
    std::size_t entity = 0;
    std::size_t first = 0, count = 0; // segments first, first + 1, ... (indices into the rotated polyline)
    Circle circle;
    double step = 0;    // the turn from one full segment to the next, radians, signed
    double sagitta = 0; // how far a full segment's middle lies from the circle
    bool whole = false; // the whole closed polyline
    bool sure() const { return std::abs(step) <= kSureStep; }
};

// A polyline without bulges, as the arc search reads it: for a closed one rotated to start at a corner.
struct Outline {
    std::vector<Vec2> points; // closed ones repeat the first point at the end
    double noise = kNoise;    // how far its points may be off
    std::size_t shift = 0;    // points[k] is the polyline's point (k + shift) % n
    bool closed = false;
    std::size_t segments() const { return points.size() - 1; }
    Vec2 dir(std::size_t s) const { return points[s + 1] - points[s]; }
    double len(std::size_t s) const { return length(dir(s)); }
    // The turn at the start of segment s (s >= 1, or s == 0 for a closed outline).
    double turn(std::size_t s) const
    {
        const Vec2 a = s == 0 ? dir(segments() - 1) : dir(s - 1), b = dir(s);
        return std::atan2(cross(a, b), dot(a, b));
    }
};

bool similar(double a, double b, double tolerance)
{
    return std::abs(a - b) <= tolerance;
}

// Whether segment s continues a regular run of full segments of length `len` turning `step` at each vertex.
bool continues(const Outline& o, std::size_t s, double len, double step)
{
    const double l = o.len(s), t = o.turn(s);
    return similar(l, len, std::max(0.01 * len, 2 * o.noise)) && (t > 0) == (step > 0) &&
           similar(t, step, std::max(0.03 * std::abs(step), 4 * o.noise / std::min(l, len)));
}

// The circle through the vertices of segments first..last, when every one of them lies on it.
std::optional<Circle> circleOfSegments(const Outline& o, std::size_t first, std::size_t last)
{
    const std::vector<Vec2> vertices(o.points.begin() + std::ptrdiff_t(first),
                                     o.points.begin() + std::ptrdiff_t(last + 2));
    const auto circle = fitCircle(vertices);
    if (!circle || !std::all_of(vertices.begin(), vertices.end(), [&](Vec2 p) {
            return std::abs(distance(p, circle->center) - circle->radius) <= fitTolerance(circle->radius, o.noise);
        }))
        return std::nullopt;
    return circle;
}

// Whether the curve goes on smoothly past a run's end (segment `beside`, turning `turn` where it meets the run):
// then the run is a stretch of a curve whose bend changes gradually (an ellipse, a spline), not an arc.
bool smoothBeyond(const Outline& o, std::size_t beside, double turn, double len, double step)
{
    const double l = o.len(beside);
    return (turn > 0) == (step > 0) && std::abs(turn - step) <= 0.2 * std::abs(step) + 2 * o.noise / l &&
           std::abs(l - len) <= 0.2 * len;
}

std::vector<Run> findRuns(const Outline& o, std::size_t entity)
{
    // Stretches of at least three segments of one length, turning the same at each vertex between them (a shorter
    // first or last segment taken in: arcs rarely hold a whole number of steps).
    std::vector<Run> runs;
    const std::size_t m = o.segments();
    for (std::size_t s = 0; s + 2 < m;) {
        const double len = o.len(s + 1), step = o.turn(s + 1);
        if (step == 0 || std::abs(step) > kMaxStep || !similar(o.len(s), len, std::max(0.01 * len, 2 * o.noise)) ||
            !continues(o, s + 2, len, step)) {
            ++s;
            continue;
        }
        std::size_t first = s, last = s + 2;
        while (last + 1 < m && continues(o, last + 1, len, step))
            ++last;
        Run r;
        r.entity = entity;
        r.first = first;
        r.count = last - first + 1;
        r.step = step;
        r.sagitta = len; // for now: the full segments' length
        runs.push_back(r);
        s = last + 1;
    }
    // Neighbouring stretches on one circle are one run (rounding can break a long run), then each run must lie on
    // its circle and end where the curve stops bending as it did.
    std::vector<Run> merged;
    for (Run& r : runs) {
        if (!merged.empty()) {
            Run& back = merged.back();
            if (back.first + back.count == r.first && (back.step > 0) == (r.step > 0) &&
                circleOfSegments(o, back.first, r.first + r.count - 1)) {
                back.count += r.count;
                continue;
            }
        }
        merged.push_back(r);
    }
    std::vector<Run> result;
    for (Run& r : merged) {
        const auto circle = circleOfSegments(o, r.first, r.first + r.count - 1);
        if (!circle)
            continue;
        // A shorter segment at either end whose far end lies on the circle too: arcs rarely hold a whole number
        // of steps.
        const double len = r.sagitta;
        auto partial = [&](std::size_t segment, Vec2 far) {
            const Vec2 a = o.points[segment] - circle->center, b = o.points[segment + 1] - circle->center;
            return o.len(segment) <= 1.02 * len && (cross(a, b) > 0) == (r.step > 0) &&
                   std::abs(distance(far, circle->center) - circle->radius) <= fitTolerance(circle->radius, o.noise);
        };
        if (r.first > 0 && (result.empty() || result.back().first + result.back().count < r.first) &&
            partial(r.first - 1, o.points[r.first - 1]))
            --r.first, ++r.count;
        if (r.first + r.count < m && partial(r.first + r.count, o.points[r.first + r.count + 1]))
            ++r.count;
        const std::size_t last = r.first + r.count - 1;
        if ((r.first > 0 && smoothBeyond(o, r.first - 1, o.turn(r.first), len, r.step)) ||
            (last + 1 < m && smoothBeyond(o, last + 1, o.turn(last + 1), len, r.step)))
            continue;
        double sweep = 0;
        for (std::size_t i = r.first; i <= last; ++i) {
            const Vec2 a = o.points[i] - circle->center, b = o.points[i + 1] - circle->center;
            sweep += std::atan2(cross(a, b), dot(a, b));
        }
        r.circle = *circle;
        r.step = 2 * std::asin(std::min(1.0, len / (2 * circle->radius))) * (r.step > 0 ? 1 : -1);
        r.sagitta = circle->radius * (1 - std::cos(r.step / 2));
        r.whole = o.closed && r.count == m && std::abs(std::abs(sweep) - kTurn) < 1e-3;
        result.push_back(r);
    }
    return result;
}

// The polyline as an outline (its points `noise` off at most); nullopt when it has bulges. A closed polyline is rotated
// to start where its turns change (a run then never wraps across its start); an open one whose ends meet counts as
// closed.
std::optional<Outline> outlineOf(const Polyline& g, double noise)
{
    if (!g.bulges.empty() || g.points.size() < 4)
        return std::nullopt;
    Outline o;
    o.noise = noise;
    o.points = g.points;
    o.closed = g.closed;
    if (!o.closed && distance(o.points.front(), o.points.back()) <= kTouch) {
        o.points.pop_back();
        o.closed = true;
    }
    if (!o.closed)
        return o;
    const std::size_t n = o.points.size();
    o.points.push_back(o.points.front());
    std::size_t corner = 0;
    for (std::size_t s = 0; s < n; ++s)
        if (!continues(o, (s + 1) % n, o.len(s), o.turn(s))) {
            corner = (s + 1) % n;
            break;
        }
    std::rotate(o.points.begin(), o.points.begin() + std::ptrdiff_t(corner), o.points.end() - 1);
    o.points.back() = o.points.front();
    o.shift = corner;
    return o;
}

// How finely the page's plot flattened curves: the largest sagitta of its sure runs, unless they all share one
// step (a plot with a fixed number of segments a circle). Ambiguous runs (9 to 47 segments a circle) are arcs only
// on a page that flattens adaptively, and only when they are no coarser than it: a polygon's corners are.
struct Flattening {
    double tolerance = 0; // 0: no sure run on the page
    bool fixedCount = false;

    explicit Flattening(const std::vector<Run>& runs)
    {
        std::vector<double> steps;
        for (const Run& r : runs)
            if (r.sure()) {
                tolerance = std::max(tolerance, r.sagitta);
                steps.push_back(std::abs(r.step));
            }
        if (steps.size() >= 3) {
            const auto [lo, hi] = std::minmax_element(steps.begin(), steps.end());
            fixedCount = *hi - *lo <= 0.01 * *hi;
        }
    }
    bool accepts(double sagitta) const { return !fixedCount && tolerance > 0 && sagitta <= 1.1 * tolerance; }
};

// --- ellipses -------------------------------------------------------------------------------------------------

// Solves the n x n system in place (Gaussian elimination with pivoting); false when singular.
template <std::size_t N> bool solve(std::array<std::array<double, N + 1>, N>& m)
{
    for (std::size_t c = 0; c < N; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < N; ++r)
            if (std::abs(m[r][c]) > std::abs(m[pivot][c]))
                pivot = r;
        if (std::abs(m[pivot][c]) < 1e-14)
            return false;
        std::swap(m[c], m[pivot]);
        for (std::size_t r = 0; r < N; ++r) {
            if (r == c)
                continue;
            const double f = m[r][c] / m[c][c];
            for (std::size_t k = c; k <= N; ++k)
                m[r][k] -= f * m[c][k];
        }
    }
    for (std::size_t r = 0; r < N; ++r)
        m[r][N] /= m[r][r];
    return true;
}

// The ellipse through `exact` (least squares on the conic), when the points `along` the curve lie on it within
// `tolerance` (of its major radius) and it is not a circle; the parameters run from the first point along the curve
// to the last, in its direction.
std::optional<Ellipse> fitEllipse(const std::vector<Vec2>& exact, const std::vector<Vec2>& along, bool closed,
                                  double absolute, double relative)
{
    const std::vector<Vec2>& points = exact;
    if (points.size() < 6)
        return std::nullopt;
    Vec2 c{};
    for (Vec2 p : points)
        c = c + p;
    c = (1.0 / double(points.size())) * c;
    double scale = 0;
    for (Vec2 p : points)
        scale = std::max(scale, distance(p, c));
    if (scale <= 0)
        return std::nullopt;
    // A x^2 + B xy + C y^2 + D x + E y = 1 around the centroid, in units of `scale`.
    std::array<std::array<double, 6>, 5> m{};
    for (Vec2 p : points) {
        const Vec2 u = (1 / scale) * (p - c);
        const std::array<double, 5> row{u.x * u.x, u.x * u.y, u.y * u.y, u.x, u.y};
        for (std::size_t i = 0; i < 5; ++i) {
            for (std::size_t k = 0; k < 5; ++k)
                m[i][k] += row[i] * row[k];
            m[i][5] += row[i];
        }
    }
    if (!solve<5>(m))
        return std::nullopt;
    const double A = m[0][5], B = m[1][5], C = m[2][5], D = m[3][5], E = m[4][5];
    const double det = 4 * A * C - B * B;
    if (det <= 0)
        return std::nullopt;
    const Vec2 o{(B * E - 2 * C * D) / det, (B * D - 2 * A * E) / det};
    const double f = A * o.x * o.x + B * o.x * o.y + C * o.y * o.y + D * o.x + E * o.y - 1;
    // Axes from the quadratic form's eigenvectors.
    const double mean = (A + C) / 2, diff = std::hypot((A - C) / 2, B / 2);
    const double l1 = mean - diff, l2 = mean + diff; // l1 <= l2: the major axis goes with l1
    if (l1 <= 0 || f >= 0)
        return std::nullopt;
    const double major = std::sqrt(-f / l1), minor = std::sqrt(-f / l2);
    const double angle = 0.5 * std::atan2(B, A - C) + std::numbers::pi / 2;
    const Vec2 axis{std::cos(angle), std::sin(angle)};
    Ellipse e;
    e.center = c + scale * o;
    e.majorAxis = (scale * major) * axis;
    e.ratio = minor / major;
    if (e.ratio > 0.99)
        return std::nullopt; // a circle: the circle search's business
    const double a = scale * major, b = scale * minor;
    std::vector<double> params;
    for (Vec2 p : along) {
        const Vec2 q = p - e.center;
        const double u = dot(q, axis), v = cross(axis, q);
        const double rho = std::hypot(u / a, v / b);
        if (rho <= 0 || std::abs(rho - 1) * std::hypot(u, v) / rho > std::max(absolute, relative * a))
            return std::nullopt;
        params.push_back(std::atan2(v / b, u / a));
    }
    // The direction the points go round in, and that they go round without turning back.
    double turned = 0;
    for (std::size_t i = 1; i < params.size(); ++i) {
        double d = params[i] - params[i - 1];
        d = d > std::numbers::pi ? d - kTurn : d < -std::numbers::pi ? d + kTurn : d;
        if (i > 1 && (d > 0) != (turned > 0))
            return std::nullopt;
        turned += d;
    }
    if (closed) {
        e.startParam = 0;
        e.endParam = kTurn;
    } else if (std::abs(turned) < std::numbers::pi / 3) {
        return std::nullopt; // too short a stretch to tell an ellipse by
    } else {
        e.startParam = turned > 0 ? params.front() : params.back();
        e.endParam = e.startParam + std::abs(turned);
    }
    return e;
}

// --- Bézier chains ------------------------------------------------------------------------------------------------

constexpr int kSamples = 8;

// The arc a cubic follows, as an ArcPath, when every sample of it lies on one circle within tolerance.
// How far from its circle the usual cubic for an arc of `sweep` radians strays, for a radius of 1: writers draw wide
// arcs (up to half a circle) as one cubic, which no cubic follows closely.
double cubicArcError(double sweep)
{
    const double k = 4.0 / 3 * std::tan(sweep / 4);
    const Vec2 p0{1, 0}, p1{1, k}, p3{std::cos(sweep), std::sin(sweep)}, p2 = p3 + k * Vec2{p3.y, -p3.x};
    double worst = 0;
    for (int i = 1; i < 16; ++i)
        worst = std::max(worst, std::abs(length(bezierPoint(p0, p1, p2, p3, i / 16.0)) - 1));
    return worst;
}

// The arc a cubic follows, as an ArcPath, when every sample of it lies on one circle as closely as the usual cubic
// for such an arc does.
std::optional<ArcPath> arcOfCubic(const std::array<Vec2, 4>& p)
{
    const auto circle = circleThrough(p[0], bezierPoint(p[0], p[1], p[2], p[3], 0.5), p[3]);
    if (!circle || circle->radius < 1e-4)
        return std::nullopt;
    double sweep = 0, previous = angleOf(circle->center, p[0]), off = 0;
    for (int i = 1; i <= kSamples; ++i) {
        const Vec2 q = bezierPoint(p[0], p[1], p[2], p[3], double(i) / kSamples);
        off = std::max(off, std::abs(distance(q, circle->center) - circle->radius));
        double d = angleOf(circle->center, q) - previous;
        d = d > std::numbers::pi ? d - kTurn : d < -std::numbers::pi ? d + kTurn : d;
        if (d == 0 || (i > 1 && (d > 0) != (sweep > 0)))
            return std::nullopt;
        sweep += d;
        previous += d;
    }
    const double tolerance = std::max({0.001, 5e-4 * circle->radius, 1.25 * cubicArcError(sweep) * circle->radius});
    if (off > tolerance || std::abs(sweep) > std::numbers::pi + 1e-6)
        return std::nullopt;
    return ArcPath{circle->center, circle->radius, angleOf(circle->center, p[0]), sweep};
}

} // namespace

void recoverArcs(Drawing& d)
{
    int circles = 0, arcs = 0, ellipses = 0, bulged = 0, curves = 0;
    auto count = [&](const Geometry& g) {
        if (std::holds_alternative<Circle>(g))
            ++circles;
        else if (std::holds_alternative<Arc>(g))
            ++arcs;
        else
            ++bulged;
    };

    // Bézier chains: every cubic an arc gives arcs (one for each circle the chain follows), else an ellipse.
    for (Entity& e : d.entities) {
        auto* spline = std::get_if<BezierSpline>(&e.geometry);
        if (!spline || spline->points.size() < 4)
            continue;
        const std::vector<Vec2>& p = spline->points;
        const bool closed = distance(p.front(), p.back()) <= kTouch;
        std::vector<Vec2> points{p[0]};
        std::vector<double> bulges;
        for (std::size_t i = 0; i + 3 < p.size(); i += 3) {
            const auto arc = arcOfCubic({p[i], p[i + 1], p[i + 2], p[i + 3]});
            if (!arc)
                break;
            bulges.push_back(bulgeOf(arc->sweep));
            points.push_back(p[i + 3]);
        }
        if (points.size() == (p.size() - 1) / 3 + 1) {
            if (closed)
                points.pop_back();
            e.geometry = pathGeometry(std::move(points), std::move(bulges), closed);
            ++curves;
            count(e.geometry);
            continue;
        }
        // Ellipses written as Bézier arcs have their ends and middles on the ellipse: the fit goes through them.
        std::vector<Vec2> exact, samples;
        for (std::size_t i = 0; i + 3 < p.size(); i += 3) {
            exact.push_back(p[i]);
            exact.push_back(bezierPoint(p[i], p[i + 1], p[i + 2], p[i + 3], 0.5));
            for (int k = 0; k < kSamples; ++k)
                samples.push_back(bezierPoint(p[i], p[i + 1], p[i + 2], p[i + 3], double(k) / kSamples));
        }
        if (!closed)
            samples.push_back(p.back()), exact.push_back(p.back());
        if (auto ellipse = fitEllipse(exact, samples, closed, 0.001, 5e-4)) {
            e.geometry = *ellipse;
            ++ellipses;
        }
    }

    // Segment runs and flattened ellipses: found on every polyline first, then judged against the page's
    // flattening. A polyline of many points that bends smoothly one way round an ellipse is that ellipse.
    const double noise = std::max(kNoise, gridStep(d) * std::numbers::sqrt2 / 2);
    std::vector<Run> runs;
    std::vector<Outline> outlines(d.entities.size());
    struct Oval {
        std::size_t entity;
        Ellipse ellipse;
        double step, sagitta; // the sharpest turn; the largest sagitta (estimated from the turns)
    };
    std::vector<Oval> ovals;
    for (std::size_t i = 0; i < d.entities.size(); ++i) {
        const auto* poly = std::get_if<Polyline>(&d.entities[i].geometry);
        auto o = poly ? outlineOf(*poly, noise) : std::nullopt;
        if (!o)
            continue;
        if (o->segments() >= 16) {
            double step = 0, sagitta = 0;
            bool oneWay = true;
            for (std::size_t k = o->closed ? 0 : 1; k < o->segments() && oneWay; ++k) {
                const double t = o->turn(k);
                oneWay = t != 0 && std::abs(t) <= kMaxStep && (t > 0) == (o->turn(1) > 0);
                step = std::max(step, std::abs(t));
                sagitta = std::max(sagitta, o->len(k) * std::abs(t) / 8);
            }
            const std::vector<Vec2> points(o->points.begin(), o->points.end() - (o->closed ? 1 : 0));
            // On a circle it is a circle, however well an ellipse fits.
            if (oneWay && !circleOfSegments(*o, 0, o->segments() - 1))
                if (auto ellipse = fitEllipse(points, points, o->closed, fitTolerance(0, o->noise), 2e-4)) {
                    ovals.push_back({i, *ellipse, step, sagitta});
                    continue;
                }
        }
        std::vector<Run> found = findRuns(*o, i);
        runs.insert(runs.end(), found.begin(), found.end());
        outlines[i] = std::move(*o);
    }
    const Flattening flattening(runs);
    for (const Oval& oval : ovals)
        if (oval.step <= kSureStep || flattening.accepts(oval.sagitta)) {
            d.entities[oval.entity].geometry = oval.ellipse;
            ++ellipses;
        }
    for (std::size_t k = 0; k < runs.size();) {
        const std::size_t entity = runs[k].entity;
        std::size_t end = k;
        while (end < runs.size() && runs[end].entity == entity)
            ++end;
        const Outline& o = outlines[entity];
        std::vector<Vec2> points;
        std::vector<double> bulges;
        std::size_t s = 0;
        bool any = false;
        for (std::size_t r = k; r < end; ++r) {
            const Run& run = runs[r];
            if (!run.sure() && !flattening.accepts(run.sagitta))
                continue;
            any = true;
            if (run.whole) {
                d.entities[entity].geometry = run.circle;
                break;
            }
            for (; s < run.first; ++s) {
                points.push_back(o.points[s]);
                bulges.push_back(0);
            }
            double sweep = 0;
            for (std::size_t i = run.first; i < run.first + run.count; ++i) {
                const Vec2 a = o.points[i] - run.circle.center, b = o.points[i + 1] - run.circle.center;
                sweep += std::atan2(cross(a, b), dot(a, b));
            }
            points.push_back(o.points[run.first]);
            bulges.push_back(bulgeOf(sweep));
            s = run.first + run.count;
        }
        k = end;
        if (!any)
            continue;
        if (!std::holds_alternative<Circle>(d.entities[entity].geometry)) {
            for (; s < o.segments(); ++s) {
                points.push_back(o.points[s]);
                bulges.push_back(0);
            }
            if (!o.closed)
                points.push_back(o.points.back());
            d.entities[entity].geometry = pathGeometry(std::move(points), std::move(bulges), o.closed);
        }
        count(d.entities[entity].geometry);
    }

    std::string note = "arcs: " + std::to_string(circles) + " circles, " + std::to_string(arcs) + " arcs, " +
                       std::to_string(ellipses) + " ellipses, " + std::to_string(bulged) +
                       " polylines with arcs recovered (" + std::to_string(curves) + " from Bezier chains)";
    if (flattening.tolerance > 0)
        note += "; the plot flattened curves to " + std::to_string(flattening.tolerance) + " mm" +
                (flattening.fixedCount ? " in fixed steps" : "");
    d.notes.push_back(note);
}

} // namespace unplot::engine::passes
