#include "calibration/CalibrationUnit.h"
#include "common/Errors.h"
#include "measurement/FrameFile.h"
#include "optimisation/EtalonOptimisation.h"
#include "reconstruction/EllipseUnit.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <unordered_map>

namespace merkanix {

namespace {

constexpr const char* kCameraNames[3] = {"CAM1", "CAM2", "CAM3"};

// Runs body(i) on the pool's threads; a failure of any item is raised after
// all items ran, the one of the lowest index first, as a single thread would.
template <typename Body>
void ParallelForRethrow(std::size_t count, WorkerPool& workers, const Body& body) {
    std::vector<std::exception_ptr> failures(count);
    workers.Run(count, [&](std::size_t i) {
        try {
            body(i);
        } catch (...) {
            failures[i] = std::current_exception();
        }
    });
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

// The terms one triple adds to each sum, in the order they are added.
struct TripleTerms {
    std::array<std::array<double, 12>, kSearchPoints> term;
    int count = 0;
};

void AddTerm(double R, double axis, bool squared, double*& out) {
    const double d = R - axis;
    *out++ = squared ? d * d : std::fabs(d);
}

} // namespace

CameraEdges MeasureReferenceEdges(const std::array<const Picture*, 3>& etalonPictures,
                                  const std::array<bool, 3>& loaded, EdgeMode edgeMode) {
    std::string missing;
    for (int k = 0; k < 3; ++k)
        if (!loaded[k] || etalonPictures[k] == nullptr || etalonPictures[k]->Empty())
            missing += missing.empty() ? kCameraNames[k] : std::string(", ") + kCameraNames[k];
    if (!missing.empty())
        throw Error("Chybí snímek etalonu v základní poloze: " + missing +
                    ". Načtěte snímky všech tří kamer.");
    CameraEdges edges;
    for (int k = 0; k < 3; ++k)
        edges[k] = MeanEdges(*etalonPictures[k], kEdgeThreshold, edgeMode);
    return edges;
}

EtalonTripleTable FindEtalonTriples(const std::string& folder,
                                    const std::vector<std::string>& names,
                                    std::string_view toleranceText, char decimalSeparator) {
    const TripleList found = FindTriples(folder, names, toleranceText, decimalSeparator);
    std::unordered_map<std::string, std::int32_t> position;
    for (std::size_t i = 0; i < names.size(); ++i)
        position.emplace(names[i], static_cast<std::int32_t>(i));
    EtalonTripleTable table;
    table.reserve(found.size());
    for (const FrameTriple& triple : found) {
        EtalonTriple& entry = table.emplace_back();
        entry.frames = triple;
        for (int k = 0; k < 3; ++k) {
            const std::string name = triple.path[k].substr(folder.size() + 1);
            const auto it = position.find(name);
            entry.listIndex[k] = it == position.end() ? -1 : it->second;
        }
    }
    return table;
}

std::vector<CameraEdges> MeasureTripleEdges(const EtalonTripleTable& triples, unsigned jobs,
                                            EdgeMode edgeMode) {
    std::vector<CameraEdges> edges(triples.size());
    WorkerPool workers(jobs);
    ParallelForRethrow(triples.size() * 3, workers, [&](std::size_t item) {
        const std::size_t i = item / 3;
        const int k = static_cast<int>(item % 3);
        Picture picture;
        LoadFrame(triples[i].frames.path[k], picture);
        edges[i][k] = MeanEdges(picture, kEdgeThreshold, edgeMode);
    });
    return edges;
}

CameraPoints CameraPositions(double diameter, const FocalLengths& f, const FocalLengths& yc,
                             const CameraEdges& reference) {
    CameraPoints positions;
    for (int k = 0; k < 3; ++k) {
        if (!CameraPosition(kCameraNames[k], positions[k], f[k], yc[k], reference[k].top,
                            reference[k].bottom, diameter))
            positions[k] = {NoValue(), NoValue()};
    }
    return positions;
}

SearchSums EtalonObjective(const ObjectiveData& data, const FocalLengths& f, double h,
                           ObjectiveVariant variant, unsigned jobs) {
    WorkerPool workers(std::min<unsigned>(jobs, static_cast<unsigned>(data.triples.size())));
    return EtalonObjective(data, f, h, variant, workers);
}

SearchSums EtalonObjective(const ObjectiveData& data, const FocalLengths& f, double h,
                           ObjectiveVariant variant, WorkerPool& workers) {
    // Settings 0, 1, 2: every camera at f, at f - h, at f + h.
    FocalLengths focal[3];
    for (int k = 0; k < 3; ++k) {
        focal[0][k] = f[k];
        focal[1][k] = f[k] - h;
        focal[2][k] = f[k] + h;
    }
    CameraPoints position[3];
    for (int s = 0; s < 3; ++s)
        position[s] = CameraPositions(data.diameter, focal[s], data.yc, data.reference);

    const double R = data.diameter / 2;
    const bool squared =
        variant == ObjectiveVariant::MeanSquared || variant == ObjectiveVariant::EachSquared;
    const bool mean =
        variant == ObjectiveVariant::MeanAbsolute || variant == ObjectiveVariant::MeanSquared;

    std::vector<TripleTerms> terms(data.triples.size());
    ParallelForRethrow(data.triples.size(), workers, [&](std::size_t i) {
        const CameraEdges& edges = data.triples[i];
        Line2D lines[3][6];
        for (int s = 0; s < 3; ++s)
            for (int k = 0; k < 3; ++k) {
                const Point2D p = position[s][k];
                lines[s][2 * k] =
                    SightLine(kCameraNames[k], p.x, p.y, focal[s][k], data.yc[k], edges[k].top);
                lines[s][2 * k + 1] =
                    SightLine(kCameraNames[k], p.x, p.y, focal[s][k], data.yc[k], edges[k].bottom);
            }
        TripleTerms& out = terms[i];
        for (int point = 0; point < kSearchPoints; ++point) {
            std::array<Line2D, 6> six;
            for (int j = 0; j < 6; ++j)
                six[j] = lines[0][j];
            if (point > 0) {
                const int k = (point - 1) / 2;
                const int s = (point - 1) % 2 == 0 ? 1 : 2;
                six[2 * k] = lines[s][2 * k];
                six[2 * k + 1] = lines[s][2 * k + 1];
            }
            std::array<EllipseParams, 6> ellipses;
            for (int j = 0; j < 6; ++j) {
                std::array<Line2D, 5> five;
                for (int n = 0, m = 0; n < 6; ++n)
                    if (n != j) five[m++] = six[n];
                ellipses[j] = EllipseFromTangents(five);
            }
            double* term = out.term[point].data();
            if (mean) {
                const EllipseParams e = MeanEllipse(ellipses);
                AddTerm(R, e.semiMajor, squared, term);
                AddTerm(R, e.semiMinor, squared, term);
            } else {
                for (const EllipseParams& e : ellipses) {
                    AddTerm(R, e.semiMajor, squared, term);
                    AddTerm(R, e.semiMinor, squared, term);
                }
            }
            out.count = static_cast<int>(term - out.term[point].data());
        }
    });

    SearchSums sums{};
    for (const TripleTerms& t : terms)
        for (int point = 0; point < kSearchPoints; ++point)
            for (int n = 0; n < t.count; ++n)
                sums[point] += t.term[point][n];
    return sums;
}

} // namespace merkanix
